#pragma once
// Builders for the small widget groups the setting pages and registers repeat:
// radio groups in a titled box, and path edits with their "..." chooser.
#include <QMargins>
#include <QString>

#include <initializer_list>
#include <optional>
#include <vector>

class QButtonGroup;
class QGroupBox;
class QLineEdit;
class QToolButton;
class QWidget;

namespace kv {
class SettingsRecord;
}

namespace kv::gui {

// One radio button: the id its group reports (the value stored) and its caption (UTF-8).
struct RadioChoice {
    int id;
    const char* caption;
};

// Captions numbered 0, 1, 2, ... in the order given.
std::vector<RadioChoice> InOrder(std::initializer_list<const char*> captions);

struct RadioLayout {
    int columns = 1;                  // buttons to a row, filled row by row
    std::optional<QMargins> margins;  // of the box's layout; the style's when not set
    bool focusable = true;            // false: reached by mouse and shortcut keys only
    bool nameButtons = false;         // each button named after the box with its caption appended
};

// Radio buttons in `box`, in the order given (which is also their tab and
// arrow-key order), and the exclusive group over them (owned by the box). No
// button is checked.
QButtonGroup* RadioGroup(QGroupBox* box, const std::vector<RadioChoice>& choices, const RadioLayout& layout = {});

// A path edit and the "..." button that chooses it, both children of
// `parent`, created edit first (tab order); the caller lays them out and
// connects the button.
struct PathEdit {
    QLineEdit* edit;
    QToolButton* button;
};
PathEdit PathEditWithChooser(QWidget* parent, const char* editName, const char* buttonName);

enum class PathKind { Folder, File };

// Asks for a folder or a file for the text setting `field` of `record`: the
// dialog is titled with the field's name and opens where the setting points.
// The choice is entered into the record (saved with the record); a cancel
// leaves it as it was.
void ChoosePathInto(QWidget* parent, PathKind kind, kv::SettingsRecord& record, const char* field);

}  // namespace kv::gui
