#pragma once
// Who the current cashier is: picked freely from the cashier list, or, with
// "Obavezan login" on, only through the login dialog. The invoice actions
// ask KasirPrijavljen before they go on.
#include <functional>
#include <string>

namespace kv {
class Prompter;
class SettingsRecord;
}  // namespace kv

namespace kv::reg {

class TDMGlavni;

namespace texts {
inline constexpr const char* kLoginCaption = "Login";
inline constexpr const char* kLoginUsername = "Username";
inline constexpr const char* kLoginPassword = "Password";
inline constexpr const char* kLoginOk = "OK";
inline constexpr const char* kLoginCancel = "Cancel";
inline constexpr const char* kLoginRefused = "Username/password not corect!";
}  // namespace texts

// Whether a cashier must log in (`KasaBaf.LoginUser` = 1).
bool LoginMandatory(const SettingsRecord& kasaBaf);

// Start-up: with login mandatory the current cashier stays empty; otherwise
// the first cashier of the list (when there is one) becomes the current one.
void ApplyStartupCashier(SettingsRecord& kasaBaf, TDMGlavni& dm);

// Makes `username` the current cashier and saves the settings record.
void SetCurrentCashier(SettingsRecord& kasaBaf, const std::string& username);

// What OK in the login dialog leads to.
enum class LoginStep {
    FocusUsername,  // user name empty: focus it, no message
    FocusPassword,  // password empty: focus it, no message
    Refused,        // no such cashier/password: the message was shown, the dialog stays
    LoggedIn,       // the cashier is the current one now; the dialog closes with OK
};
LoginStep LoginOk(TDMGlavni& dm, SettingsRecord& kasaBaf, Prompter& prompter, const std::string& username,
                  const std::string& password);

// The cashier check before an invoice action: passes with a current
// cashier or without mandatory login; otherwise `showLogin` (the modal
// dialog) decides: true for OK.
bool KasirPrijavljen(const SettingsRecord& kasaBaf, const std::function<bool()>& showLogin);

// "F7 Kasir": the login dialog with login mandatory, else the cashier box.
enum class KasirAction { ShowLogin, FocusCashierBox };
KasirAction SBKasirAction(const SettingsRecord& kasaBaf);

}  // namespace kv::reg
