#include "util/FormBuilders.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>

#include <algorithm>

#include "app/Settings.h"

namespace kv::gui {

std::vector<RadioChoice> InOrder(std::initializer_list<const char*> captions) {
    std::vector<RadioChoice> choices;
    int id = 0;
    for (const char* caption : captions) choices.push_back({id++, caption});
    return choices;
}

QButtonGroup* RadioGroup(QGroupBox* box, const std::vector<RadioChoice>& choices, const RadioLayout& layout) {
    auto* group = new QButtonGroup(box);
    auto* grid = new QGridLayout(box);
    if (layout.margins) grid->setContentsMargins(*layout.margins);
    const int columns = std::max(1, layout.columns);
    int i = 0;
    for (const RadioChoice& c : choices) {
        auto* rb = new QRadioButton(QString::fromUtf8(c.caption), box);
        if (layout.nameButtons) rb->setObjectName(box->objectName() + QString::fromUtf8(c.caption));
        if (!layout.focusable) rb->setFocusPolicy(Qt::NoFocus);
        group->addButton(rb, c.id);
        grid->addWidget(rb, i / columns, i % columns);
        ++i;
    }
    return group;
}

PathEdit PathEditWithChooser(QWidget* parent, const char* editName, const char* buttonName) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(editName);
    auto* button = new QToolButton(parent);
    button->setObjectName(buttonName);
    button->setText("...");
    return {edit, button};
}

void ChoosePathInto(QWidget* parent, PathKind kind, kv::SettingsRecord& record, const char* field) {
    const QString title = QString::fromUtf8(field);
    const QString current = QString::fromStdString(record.text(field));
    const QString path = kind == PathKind::Folder ? QFileDialog::getExistingDirectory(parent, title, current)
                                                  : QFileDialog::getOpenFileName(parent, title, current);
    if (!path.isEmpty()) record.setText(field, path.toStdString());
}

}  // namespace kv::gui
