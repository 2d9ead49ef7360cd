#include "register/uLogin.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "app/AppContext.h"
#include "register/Login.h"
#include "register/uDMGlavni.h"

namespace kv::gui {

namespace t = kv::reg::texts;

TLogin::TLogin(kv::AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    setObjectName("Login");
    setWindowTitle(t::kLoginCaption);
    // A fixed dialog border: no resizing, no system menu extras.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto* v = new QVBoxLayout(this);
    v->addWidget(new QLabel(t::kLoginUsername, this));
    EdUsername_ = new QLineEdit(this);
    EdUsername_->setObjectName("EdUsername");
    EdUsername_->setMaxLength(50);
    v->addWidget(EdUsername_);
    v->addWidget(new QLabel(t::kLoginPassword, this));
    EdPassword_ = new QLineEdit(this);
    EdPassword_->setObjectName("EdPassword");
    EdPassword_->setMaxLength(50);
    EdPassword_->setEchoMode(QLineEdit::Password);
    v->addWidget(EdPassword_);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    BtOK_ = new QPushButton(t::kLoginOk, this);
    BtOK_->setObjectName("BtOK");
    BtOK_->setDefault(true);
    auto* cancel = new QPushButton(t::kLoginCancel, this);
    cancel->setObjectName("BtCancel");
    buttons->addWidget(BtOK_);
    buttons->addWidget(cancel);
    v->addLayout(buttons);
    connect(BtOK_, &QPushButton::clicked, this, &TLogin::BtOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    EdUsername_->installEventFilter(this);
    EdPassword_->installEventFilter(this);
    setFixedSize(sizeHint().expandedTo(QSize(260, 0)));
    if (auto* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
    EdUsername_->setFocus();
}

bool TLogin::eventFilter(QObject* obj, QEvent* e) {
    // Enter walks from the user name to the password and on to OK.
    if (e->type() == QEvent::KeyPress) {
        int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (obj == EdUsername_) {
                EdPassword_->setFocus();
                return true;
            }
            if (obj == EdPassword_) {
                BtOK_->setFocus();
                return true;
            }
        }
    }
    return QDialog::eventFilter(obj, e);
}

void TLogin::BtOKClick() {
    auto* db = ctx_.db();
    if (!db) return;
    switch (kv::reg::LoginOk(*db, ctx_.settings.KasaBaf, ctx_.prompter, EdUsername_->text().toStdString(),
                             EdPassword_->text().toStdString())) {
        case kv::reg::LoginStep::FocusUsername: EdUsername_->setFocus(); break;
        case kv::reg::LoginStep::FocusPassword: EdPassword_->setFocus(); break;
        case kv::reg::LoginStep::Refused: break;
        case kv::reg::LoginStep::LoggedIn: accept(); break;
    }
}

bool ShowLogin(kv::AppContext& ctx, QWidget* parent) {
    TLogin dlg(ctx, parent);
    return dlg.exec() == QDialog::Accepted;
}

bool KasirPrijavljen(kv::AppContext& ctx, QWidget* parent) {
    return kv::reg::KasirPrijavljen(ctx.settings.KasaBaf, [&] { return ShowLogin(ctx, parent); });
}

}  // namespace kv::gui
