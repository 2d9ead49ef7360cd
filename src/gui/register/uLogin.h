#pragma once
// The cashier login dialog: user name and password checked against the
// cashier list; OK makes that cashier the current one.
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace kv {
class AppContext;
}

namespace kv::gui {

class TLogin : public QDialog {
    Q_OBJECT
public:
    TLogin(kv::AppContext& ctx, QWidget* parent = nullptr);

    QLineEdit* username() const { return EdUsername_; }
    QLineEdit* password() const { return EdPassword_; }

    void BtOKClick();

protected:
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    kv::AppContext& ctx_;
    QLineEdit* EdUsername_;
    QLineEdit* EdPassword_;
    QPushButton* BtOK_;
};

// Creates the dialog, shows it modally and frees it: true for OK.
bool ShowLogin(kv::AppContext& ctx, QWidget* parent);
// The cashier check before an invoice action, asking through the dialog.
bool KasirPrijavljen(kv::AppContext& ctx, QWidget* parent);

}  // namespace kv::gui
