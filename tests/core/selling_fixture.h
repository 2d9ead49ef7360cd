#pragma once
// The demo register on a working day (5 March 2024), cashier "ana" paying
// cash, for the tests of the invoice page's core.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "app/Settings.h"
#include "platform/Platform.h"
#include "register/DemoData.h"
#include "register/InvoiceEntry.h"
#include "register_fixture.h"
#include "util/ScriptedPrompter.h"

namespace kv::test {

class SellingDayTest : public RegisterTest {
protected:
    void SetUp() override {
        RegisterTest::SetUp();
        platform::SetDecimalSeparator(',');
        ASSERT_TRUE(reg::LoadDemoData(*dm));
        kasa.setInt("Godina", 2024);
        kasa.setDate("Datum", std::chrono::year_month_day{std::chrono::year(2024), std::chrono::month(3),
                                                          std::chrono::day(5)});
        kasa.setText("Cashier", "ana");
        kasa.setText("NacPl", "0");
    }
    void TearDown() override {
        entry.reset();
        RegisterTest::TearDown();
    }

    ScriptedPrompter prompter;
    AppSettings settings{"unused.ini", prompter};  // never read or written here
    SettingsRecord& kasa = settings.KasaBaf;
    std::unique_ptr<reg::InvoiceEntry> entry;
};

}  // namespace kv::test
