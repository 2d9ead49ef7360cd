#include "register/Login.h"

#include "app/Settings.h"
#include "register/uDMGlavni.h"
#include "util/Prompter.h"

namespace kv::reg {

bool LoginMandatory(const SettingsRecord& kasaBaf) { return kasaBaf.integer("LoginUser") == 1; }

void SetCurrentCashier(SettingsRecord& kasaBaf, const std::string& username) {
    kasaBaf.edit();
    kasaBaf.setText("Cashier", username);
    kasaBaf.post();
}

void ApplyStartupCashier(SettingsRecord& kasaBaf, TDMGlavni& dm) {
    if (LoginMandatory(kasaBaf)) {
        if (!kasaBaf.text("Cashier").empty()) SetCurrentCashier(kasaBaf, "");
        return;
    }
    auto cashiers = dm.Radnik();
    if (!cashiers.empty()) SetCurrentCashier(kasaBaf, cashiers.front().text("Username"));
}

LoginStep LoginOk(TDMGlavni& dm, SettingsRecord& kasaBaf, Prompter& prompter, const std::string& username,
                  const std::string& password) {
    if (username.empty()) return LoginStep::FocusUsername;
    if (password.empty()) return LoginStep::FocusPassword;
    auto cashier = dm.LoginCheck(username, password);
    if (!cashier) {
        prompter.message(texts::kLoginRefused, MsgKind::Error);
        return LoginStep::Refused;
    }
    SetCurrentCashier(kasaBaf, cashier->text("Username"));
    return LoginStep::LoggedIn;
}

namespace {
bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }
}  // namespace

bool KasirPrijavljen(const SettingsRecord& kasaBaf, const std::function<bool()>& showLogin) {
    if (!Blank(kasaBaf.text("Cashier"))) return true;
    if (!LoginMandatory(kasaBaf)) return true;
    return showLogin && showLogin();
}

KasirAction SBKasirAction(const SettingsRecord& kasaBaf) {
    return LoginMandatory(kasaBaf) ? KasirAction::ShowLogin : KasirAction::FocusCashierBox;
}

}  // namespace kv::reg
