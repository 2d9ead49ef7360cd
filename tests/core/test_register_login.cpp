// Cashier login: hashed passwords, the dialog's OK, the cashier check and
// the start-up rule.
#include <gtest/gtest.h>

#include "app/Settings.h"
#include "register/Login.h"
#include "register/Passwords.h"
#include "register_fixture.h"
#include "util/ScriptedPrompter.h"

using kv::reg::LoginStep;
using kv::reg::TDMGlavni;

namespace {

class RegisterLogin : public kv::test::RegisterTest {
protected:
    void SetUp() override {
        RegisterTest::SetUp();
        settings = std::make_unique<kv::AppSettings>((dir / "kovira.ini").string(), prompter);
        settings->StartUp();
        settings->FillRecords({});
        // "ana" still has her password as typed (an old file); "marko" a hash.
        Raw("INSERT INTO Radnik VALUES ('ana', 'Ana', 'Tajna1')");
        ASSERT_TRUE(dm->SetPassword("marko", "x") == false);  // no such cashier yet
        Raw("INSERT INTO Radnik VALUES ('marko', 'Marko', NULL)");
        ASSERT_TRUE(dm->SetPassword("marko", "Lozinka"));
    }
    void TearDown() override {
        settings.reset();
        RegisterTest::TearDown();
    }
    std::string StoredPass(const std::string& user) {
        auto st = dm->Baza().prepare("SELECT Pass FROM Radnik WHERE Username = ?");
        st.bind(1, user);
        st.executeStep();
        return st.getColumn(0).getString();
    }
    kv::SettingsRecord& kasa() { return settings->KasaBaf; }

    kv::ScriptedPrompter prompter;
    std::unique_ptr<kv::AppSettings> settings;
};

TEST_F(RegisterLogin, PasswordsAreKeptAsHashesAndAPlainOneIsUpgradedAtTheFirstLogin) {
    EXPECT_TRUE(kv::reg::IsPasswordHash(StoredPass("marko")));
    EXPECT_EQ(StoredPass("ana"), "Tajna1");
    ASSERT_TRUE(dm->LoginCheck("ana", "Tajna1"));
    const std::string hash = StoredPass("ana");
    EXPECT_TRUE(kv::reg::IsPasswordHash(hash));
    EXPECT_TRUE(kv::reg::VerifyPassword(hash, "Tajna1"));
    // From now on only the password matches, not the stored text.
    EXPECT_TRUE(dm->LoginCheck("ana", "Tajna1"));
    EXPECT_FALSE(dm->LoginCheck("ana", hash));
    EXPECT_EQ(StoredPass("ana"), hash);
    // Two hashes of one password differ (salted).
    EXPECT_NE(kv::reg::HashPassword("Tajna1"), hash);
}

TEST_F(RegisterLogin, OkChecksBothFieldsExactly) {
    struct Case {
        const char *user, *pass;
        LoginStep step;
    } cases[] = {
        {"", "Lozinka", LoginStep::FocusUsername},   {"marko", "", LoginStep::FocusPassword},
        {"", "", LoginStep::FocusUsername},          {"marko", "lozinka", LoginStep::Refused},
        {"Marko", "Lozinka", LoginStep::Refused},    {"marko ", "Lozinka", LoginStep::Refused},
        {"nepoznat", "Lozinka", LoginStep::Refused}, {"ana", "tajna1", LoginStep::Refused},
        {"marko", "Lozinka", LoginStep::LoggedIn},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + "/" + c.pass);
        prompter.clearLog();
        kv::reg::SetCurrentCashier(kasa(), "ana");
        EXPECT_EQ(kv::reg::LoginOk(*dm, kasa(), prompter, c.user, c.pass), c.step);
        if (c.step == LoginStep::Refused)
            EXPECT_EQ(prompter.texts(), std::vector<std::string>{"Username/password not corect!"});
        else
            EXPECT_TRUE(prompter.texts().empty());
        EXPECT_EQ(kasa().text("Cashier"), c.step == LoginStep::LoggedIn ? "marko" : "ana");
    }
    EXPECT_FALSE(kasa().isEditing());  // the settings record was saved
}

TEST_F(RegisterLogin, TheCashierCheckAsksOnlyWhenLoginIsMandatoryAndNobodyIsLoggedIn) {
    struct Case {
        int loginUser;
        const char* cashier;
        bool dialogOk;
        bool asks, passes;
    } cases[] = {
        {0, "", false, false, true},   {0, "ana", false, false, true}, {1, "ana", false, false, true},
        {1, "  ", false, true, false}, {1, "", false, true, false},    {1, "", true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.loginUser);
        SCOPED_TRACE(c.cashier);
        kasa().setInt("LoginUser", c.loginUser);
        kv::reg::SetCurrentCashier(kasa(), c.cashier);
        bool asked = false;
        EXPECT_EQ(kv::reg::KasirPrijavljen(kasa(), [&] { return asked = true, c.dialogOk; }), c.passes);
        EXPECT_EQ(asked, c.asks);
        EXPECT_EQ(kv::reg::SBKasirAction(kasa()), c.loginUser ? kv::reg::KasirAction::ShowLogin
                                                               : kv::reg::KasirAction::FocusCashierBox);
    }
}

TEST_F(RegisterLogin, AtStartUpTheFirstCashierIsTakenUnlessLoginIsMandatory) {
    kv::reg::ApplyStartupCashier(kasa(), *dm);
    EXPECT_EQ(kasa().text("Cashier"), "ana");
    kasa().setInt("LoginUser", 1);
    kasa().post();
    kv::reg::ApplyStartupCashier(kasa(), *dm);
    EXPECT_EQ(kasa().text("Cashier"), "");
    kasa().setInt("LoginUser", 0);
    kasa().post();
    Raw("DELETE FROM Radnik");
    kv::reg::ApplyStartupCashier(kasa(), *dm);
    EXPECT_EQ(kasa().text("Cashier"), "");
    // The current cashier is never written to the settings file.
    EXPECT_EQ(kv::test::ReadBytes(dir / "kovira.ini").find("Cashier"), std::string::npos);
}

}  // namespace
