#pragma once
// The progress dialog a long operation opens over its window: two lines of
// text, an optional bar and cancel button, and at the end an optional done
// notice. Everything runs on the user-interface thread; the operation keeps
// the dialog responsive by calling StepProgress, which processes pending
// events. The owner window stays disabled while its dialog is open.
#include <QString>
#include <optional>

class QDialog;
class QWidget;

namespace kv {
class Prompter;
}

namespace kv::gui {

// Set when the user confirms cancelling; cleared when a dialog opens and when
// it ends. The operation reads it after every step and stops when it is set.
extern bool ProgressCancelled;

// Who asks "cancel the processing?"; the application sets its prompter, tests
// a scripted one. With none set the question is a plain message box. The
// prompter must outlive the dialogs that use it; pass nullptr to unset.
void SetProgressPrompter(Prompter* prompter);

// Opens the owner's dialog (or reuses the one it has) and shows it at once.
void ShowProgress(QWidget* owner, const QString& caption, const QString& line1, const QString& line2,
                  bool allowCancel, bool showBar, int min, int max);

// Moves the bar (only when it is shown) and replaces the lines given; a
// missing line stays as it is. Does nothing when the owner has no dialog.
void StepProgress(QWidget* owner, const std::optional<QString>& line1,
                  const std::optional<QString>& line2, int position);

// Turns the dialog into a done notice that waits for "Ok !" (with doneText in
// place of the standard text when given), or closes it. Clears
// ProgressCancelled in every case.
void EndProgress(QWidget* owner, bool doneNotice, const std::optional<QString>& doneText = std::nullopt);

// The owner's open dialog, or nullptr.
QDialog* FindProgress(QWidget* owner);

}  // namespace kv::gui
