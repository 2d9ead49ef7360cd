#include "util/QtPrompter.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <utility>

namespace kv::gui {

namespace {

QMessageBox::Icon IconFor(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Warning: return QMessageBox::Warning;
    case MsgKind::Error: return QMessageBox::Critical;
    case MsgKind::Information: break;
    }
    return QMessageBox::Information;
}

}  // namespace

QtPrompter::QtPrompter(QWidget* parent, QString caption) : parent_(parent), caption_(std::move(caption)) {}

QString QtPrompter::title() const
{
    return caption_.isEmpty() ? QApplication::applicationDisplayName() : caption_;
}

void QtPrompter::message(const std::string& text, MsgKind kind)
{
    QMessageBox box(IconFor(kind), title(), QString::fromStdString(text), QMessageBox::Ok, parent_);
    box.exec();
}

bool QtPrompter::confirm(const std::string& text, MsgKind kind)
{
    // A plain question gets the question mark rather than the "i".
    const QMessageBox::Icon icon = kind == MsgKind::Information ? QMessageBox::Question : IconFor(kind);
    QMessageBox box(icon, title(), QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                    parent_);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtPrompter::input(const std::string& caption, const std::string& prompt,
                                             const std::string& initial)
{
    bool ok = false;
    const QString value =
        QInputDialog::getText(parent_, QString::fromStdString(caption), QString::fromStdString(prompt),
                              QLineEdit::Normal, QString::fromStdString(initial), &ok);
    if (!ok)
        return std::nullopt;
    return value.toStdString();
}

}  // namespace kv::gui
