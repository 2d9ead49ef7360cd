#pragma once
// The windows' Prompter: message boxes and input boxes over a parent window.
#include <QPointer>
#include <QString>
#include <QWidget>

#include "util/Prompter.h"

namespace kv::gui {

class QtPrompter : public Prompter {
public:
    // caption: window title of the boxes; empty uses the application name.
    explicit QtPrompter(QWidget* parent = nullptr, QString caption = {});

    void setParent(QWidget* parent) { parent_ = parent; }
    QWidget* parent() const { return parent_; }

    void message(const std::string& text, MsgKind kind = MsgKind::Information) override;
    // Yes is the default button, as in the rest of the system's questions.
    bool confirm(const std::string& text, MsgKind kind = MsgKind::Warning) override;
    std::optional<std::string> input(const std::string& caption, const std::string& prompt,
                                     const std::string& initial) override;

private:
    QString title() const;

    QPointer<QWidget> parent_;
    QString caption_;
};

}  // namespace kv::gui
