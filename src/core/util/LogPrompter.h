#pragma once
// A prompter without a screen: every message goes to the log stream as one
// line, confirmations take a fixed answer and input boxes are cancelled.
// Used by the headless service and when no one is there to click.
#include <iostream>

#include "util/Prompter.h"
#include "util/SafeText.h"

namespace kv {

class LogPrompter : public Prompter {
public:
    explicit LogPrompter(std::ostream& out = std::cerr, bool confirmAnswer = false)
        : out_(out), answer_(confirmAnswer) {}
    void message(const std::string& text, MsgKind kind) override {
        out_ << "kovira: " << Label(kind) << LogSafe(text) << std::endl;
    }
    bool confirm(const std::string& text, MsgKind) override {
        out_ << "kovira: " << LogSafe(text) << " -> " << (answer_ ? "Yes" : "No") << std::endl;
        return answer_;
    }
    std::optional<std::string> input(const std::string& caption, const std::string& prompt,
                                     const std::string&) override {
        out_ << "kovira: " << LogSafe(caption) << ": " << LogSafe(prompt) << " -> cancelled" << std::endl;
        return std::nullopt;
    }

private:
    static const char* Label(MsgKind k) {
        switch (k) {
            case MsgKind::Warning: return "warning: ";
            case MsgKind::Error: return "error: ";
            default: return "";
        }
    }
    std::ostream& out_;
    bool answer_;
};

}  // namespace kv
