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
    : QObject(parent), record_(record), prompter_(prompter) {
    record_.addListener([this](const std::string& field) {
        if (!updating_)
            for (auto& r : refreshers_) r.show(field);
        if (!field.empty()) emit fieldChanged(QString::fromStdString(field));
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
                                          static_cast<kv::EditableDataset*>(&record_))));
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
    const auto* def = record_.def(field);
    if (def && def->type == kv::SettingType::Integer) edit->setValidator(new QIntValidator(edit));
    if (def && def->size > 0) edit->setMaxLength(def->size);
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
        box->setChecked(record_.integer(field) == 1);
    }});
}

void RecordBinder::bindRadioGroup(QButtonGroup* group, const std::string& field) {
    for (auto* b : group->buttons()) mark(b);
    const auto* def = record_.def(field);
    bool isText = def && def->type != kv::SettingType::Integer;
    QObject::connect(group, &QButtonGroup::idClicked, this, [this, field, isText](int id) {
        setField(
            [&] {
                if (isText)
                    record_.setText(field, std::to_string(id));
                else
                    record_.setInt(field, id);
            },
            nullptr);
    });
    refreshers_.push_back({nullptr, [this, group, field, isText](const std::string& f) {
        if (!f.empty() && f != field) return;
        int64_t v = -1;
        if (isText) {
            auto parsed = kv::ParseIniInteger(record_.text(field));
            v = parsed.value_or(-1);
        } else {
            v = record_.intValue(field).value_or(-1);
        }
        QAbstractButton* b = group->button(static_cast<int>(v));
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
        setField([&] { record_.setText(field, edit->toPlainText().toStdString()); }, edit);
    });
    refreshers_.push_back({edit, [this, edit, field](const std::string& f) {
        if (!f.empty() && f != field) return;
        QString v = QString::fromStdString(record_.text(field));
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
        auto ymd = record_.date(field);
        if (!ymd.ok()) return;
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
