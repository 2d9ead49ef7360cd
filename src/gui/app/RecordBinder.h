#pragma once
// Binds editing widgets to the fields of a settings record, the way
// data-aware controls work: typing puts the record into edit mode and the
// value into the field at once; posting, cancelling or a handler changing a
// field shows up in every bound widget.
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QWidget;
class QLineEdit;
class QCheckBox;
class QButtonGroup;
class QPlainTextEdit;
class QComboBox;
class QDateEdit;

#include <memory>

#include "app/BoundRecord.h"

namespace kv {
class SettingsRecord;
class MemTable;
class Prompter;
class EditableDataset;
}  // namespace kv

namespace kv::gui {

class RecordBinder : public QObject {
    Q_OBJECT
public:
    RecordBinder(kv::SettingsRecord& record, kv::Prompter& prompter, QObject* parent = nullptr);
    // Binds to the current row of a table.
    RecordBinder(kv::MemTable& table, kv::Prompter& prompter, QObject* parent = nullptr);
    RecordBinder(std::unique_ptr<BoundRecord> record, kv::Prompter& prompter, QObject* parent = nullptr);

    void bindLineEdit(QLineEdit* edit, const std::string& field);
    void bindCheckBox(QCheckBox* box, const std::string& field);
    // Button ids are the stored values; for text fields the id's digits are stored.
    void bindRadioGroup(QButtonGroup* group, const std::string& field);
    void bindPlainText(QPlainTextEdit* edit, const std::string& field);
    void bindComboText(QComboBox* combo, const std::string& field);
    void bindDateEdit(QDateEdit* edit, const std::string& field);

    // Shows the record's values in every bound widget.
    void refresh();

    // The dataset a widget is bound to, or nullptr (used by Esc handling).
    static kv::EditableDataset* DatasetOf(const QWidget* w);

signals:
    // One field changed; an empty name when the whole record changed at
    // once (posted, cancelled, reloaded), so whatever depends on its fields
    // is computed again.
    void fieldChanged(const QString& field);

private:
    void mark(QWidget* w);
    // Runs a change of the record from a widget, then shows the record in every
    // other bound widget (the source keeps what the user is typing).
    void setField(const std::function<void()>& set, QWidget* source);

    std::unique_ptr<BoundRecord> source_;
    BoundRecord& record_;
    kv::Prompter& prompter_;
    struct Refresher {
        QWidget* widget;
        std::function<void(const std::string&)> show;
    };
    std::vector<Refresher> refreshers_;
    bool updating_ = false;
};

}  // namespace kv::gui
