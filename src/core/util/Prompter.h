#pragma once
// Every message box, confirmation and input box of Kovira goes through a
// Prompter: the windows answer with Qt dialogs, tests with scripted answers,
// the headless service with its log.
#include <optional>
#include <string>

namespace kv {

enum class MsgKind { Information, Warning, Error };

class Prompter {
public:
    virtual ~Prompter() = default;
    // A modal message with an OK button.
    virtual void message(const std::string& text, MsgKind kind = MsgKind::Information) = 0;
    // A Yes/No confirmation; true only for Yes.
    virtual bool confirm(const std::string& text, MsgKind kind = MsgKind::Warning) = 0;
    // An input box; nullopt when cancelled.
    virtual std::optional<std::string> input(const std::string& caption, const std::string& prompt,
                                             const std::string& initial) = 0;
};

}  // namespace kv
