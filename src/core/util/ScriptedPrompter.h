#pragma once
// A Prompter for tests: remembers every question in the order it was asked and
// answers from queues prepared by the test.
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "util/Prompter.h"

namespace kv {

class ScriptedPrompter : public Prompter {
public:
    enum class Asked { Message, Confirm, Input };

    struct Entry {
        Asked asked;
        MsgKind kind;       // Information for inputs
        std::string text;   // message / question text, or the input prompt
    };

    // Confirmations answered once the queue is empty get defaultConfirm.
    explicit ScriptedPrompter(bool defaultConfirm = false) : defaultConfirm_(defaultConfirm) {}

    ScriptedPrompter& answerConfirm(bool yes)
    {
        confirmAnswers_.push_back(yes);
        return *this;
    }
    // nullopt answers like a cancelled input box.
    ScriptedPrompter& answerInput(std::optional<std::string> value)
    {
        inputAnswers_.push_back(std::move(value));
        return *this;
    }

    void message(const std::string& text, MsgKind kind = MsgKind::Information) override
    {
        log_.push_back({Asked::Message, kind, text});
    }

    bool confirm(const std::string& text, MsgKind kind = MsgKind::Warning) override
    {
        log_.push_back({Asked::Confirm, kind, text});
        if (confirmAnswers_.empty())
            return defaultConfirm_;
        const bool yes = confirmAnswers_.front();
        confirmAnswers_.pop_front();
        return yes;
    }

    // With no scripted answer the input box counts as cancelled.
    std::optional<std::string> input(const std::string& /*caption*/, const std::string& prompt,
                                     const std::string& /*initial*/) override
    {
        log_.push_back({Asked::Input, MsgKind::Information, prompt});
        if (inputAnswers_.empty())
            return std::nullopt;
        auto value = std::move(inputAnswers_.front());
        inputAnswers_.pop_front();
        return value;
    }

    const std::vector<Entry>& log() const { return log_; }

    // Just the texts, in order; handy for one-line expectations.
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        out.reserve(log_.size());
        for (const auto& e : log_)
            out.push_back(e.text);
        return out;
    }

    void clearLog() { log_.clear(); }

private:
    bool defaultConfirm_;
    std::deque<bool> confirmAnswers_;
    std::deque<std::optional<std::string>> inputAnswers_;
    std::vector<Entry> log_;
};

}  // namespace kv
