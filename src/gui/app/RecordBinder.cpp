#include "app/RecordBinder.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QIntValidator>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <stdexcept>

#include "app/Settings.h"
#include "util/Prompter.h"

namespace kv::gui {

namespace {
const char* kDatasetProperty = "kvDataset";
}

RecordBinder::RecordBinder(kv::SettingsRecord& record, kv::Prompter& prompter, QObject* parent)
    : RecordBinder(BindSettings(record), prompter, parent) {}

RecordBinder::RecordBinder(kv::MemTable& table, kv::Prompter& prompter, QObject* parent)
    : RecordBinder(BindTable(table), prompter, parent) {}

RecordBinder::RecordBinder(std::unique_ptr<BoundRecord> record, kv::Prompter& prompter, QObject* parent)
    : QObject(parent), source_(std::move(record)), record_(*source_), prompter_(prompter) {
    record_.addListener([this](const std::string& field) {
        if (!updating_)
            for (auto& r : refreshers_) r.show(field);
        emit fieldChanged(QString::fromStdString(field));
    });
}

kv::EditableDataset* RecordBinder::DatasetOf(const QWidget* w) {
    // The control itself, or the compound editor whose inner edit has the focus.
    int depth = 0;
    for (const QWidget* p = w; p && depth < 2; p = p->parentWidget(), ++depth) {
        QVariant v = p->property(kDatasetProperty);
        if (v.isValid()) return reinterpret_cast<kv::EditableDataset*>(v.value<quintptr>());
    }
    return nullptr;
}

void RecordBinder::mark(QWidget* w) {
    w->setProperty(kDatasetProperty, QVariant::fromValue(reinterpret_cast<quintptr>(
                                          &record_.dataset())));
}

void RecordBinder::setField(const std::function<void()>& set, QWidget* source) {
    if (updating_) return;
    updating_ = true;
    try {
        set();
    } catch (const std::exception& e) {
        prompter_.message(e.what(), kv::MsgKind::Error);
    }
    updating_ = false;
    // Handlers may have changed other fields: show them all.
    for (auto& r : refreshers_)
        if (r.widget != source) r.show("");
}

void RecordBinder::refresh() {
    for (auto& r : refreshers_) r.show("");
}

void RecordBinder::bindLineEdit(QLineEdit* edit, const std::string& field) {
    mark(edit);
    if (record_.isInteger(field)) edit->setValidator(new QIntValidator(edit));
    if (int size = record_.size(field); size > 0) edit->setMaxLength(size);
    QObject::connect(edit, &QLineEdit::textEdited, this, [this, edit, field](const QString& t) {
        // "-" on the way to "-10" is not a value yet.
        if (!edit->hasAcceptableInput() && !t.isEmpty()) return;
        setField([&] { record_.setFromText(field, t.toStdString()); }, edit);
    });
    refreshers_.push_back({edit, [this, edit, field](const std::string& f) {
        if (!f.empty() && f != field) return;
        QString v = QString::fromStdString(record_.displayText(field));
        if (edit->text() != v) edit->setText(v);
    }});
}

void RecordBinder::bindCheckBox(QCheckBox* box, const std::string& field) {
    mark(box);
    QObject::connect(box, &QCheckBox::clicked, this, [this, box, field](bool on) {
        setField([&] { record_.setInt(field, on ? 1 : 0); }, box);
    });
    refreshers_.push_back({box, [this, box, field](const std::string& f) {
        if (!f.empty() && f != field) return;
        box->setChecked(record_.intValue(field).value_or(0) == 1);
    }});
}

void RecordBinder::bindRadioGroup(QButtonGroup* group, const std::string& field) {
    for (auto* b : group->buttons()) mark(b);
    QObject::connect(group, &QButtonGroup::idClicked, this,
                     [this, field](int id) { setField([&] { record_.setInt(field, id); }, nullptr); });
    refreshers_.push_back({nullptr, [this, group, field](const std::string& f) {
        if (!f.empty() && f != field) return;
        QAbstractButton* b = group->button(static_cast<int>(record_.intValue(field).value_or(-1)));
        if (b) {
            b->setChecked(true);
        } else if (auto* checked = group->checkedButton()) {
            // No item matches: show none chosen.
            group->setExclusive(false);
            checked->setChecked(false);
            group->setExclusive(true);
        }
    }});
}

void RecordBinder::bindPlainText(QPlainTextEdit* edit, const std::string& field) {
    mark(edit);
    QObject::connect(edit, &QPlainTextEdit::textChanged, this, [this, edit, field] {
        if (updating_) return;
        setField([&] { record_.setFromText(field, edit->toPlainText().toStdString()); }, edit);
    });
    refreshers_.push_back({edit, [this, edit, field](const std::string& f) {
        if (!f.empty() && f != field) return;
        QString v = QString::fromStdString(record_.displayText(field));
        if (edit->toPlainText() != v) {
            bool was = updating_;
            updating_ = true;
            edit->setPlainText(v);
            updating_ = was;
        }
    }});
}

void RecordBinder::bindComboText(QComboBox* combo, const std::string& field) {
    mark(combo);
    QObject::connect(combo, &QComboBox::currentTextChanged, this, [this, combo, field](const QString& t) {
        if (updating_) return;
        setField([&] { record_.setFromText(field, t.toStdString()); }, combo);
    });
    refreshers_.push_back({combo, [this, combo, field](const std::string& f) {
        if (!f.empty() && f != field) return;
        QString v = QString::fromStdString(record_.displayText(field));
        if (combo->currentText() != v) {
            bool was = updating_;
            updating_ = true;
            if (combo->isEditable()) {
                combo->setEditText(v);
            } else {
                int i = combo->findText(v);
                if (i < 0) {
                    combo->addItem(v);
                    i = combo->count() - 1;
                }
                combo->setCurrentIndex(i);
            }
            updating_ = was;
        }
    }});
}

void RecordBinder::bindDateEdit(QDateEdit* edit, const std::string& field) {
    mark(edit);
    edit->setDisplayFormat("dd.MM.yyyy");
    QObject::connect(edit, &QDateEdit::dateChanged, this, [this, edit, field](const QDate& d) {
        if (updating_ || !d.isValid()) return;
        setField(
            [&] {
                record_.setDate(field, std::chrono::year_month_day{
                                           std::chrono::year{d.year()}, std::chrono::month{static_cast<unsigned>(d.month())},
                                           std::chrono::day{static_cast<unsigned>(d.day())}});
            },
            edit);
    });
    refreshers_.push_back({edit, [this, edit, field](const std::string& f) {
        if (!f.empty() && f != field) return;
        auto date = record_.date(field);
        if (!date) return;
        auto ymd = *date;
        QDate d(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                static_cast<int>(static_cast<unsigned>(ymd.day())));
        if (edit->date() != d) {
            bool was = updating_;
            updating_ = true;
            edit->setDate(d);
            updating_ = was;
        }
    }});
}

}  // namespace kv::gui
