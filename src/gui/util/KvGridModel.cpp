#include "util/KvGridModel.h"

#include <QBrush>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>

namespace kv::gui {

QColor TitleColourValue(TitleColour colour)
{
    switch (colour) {
    case TitleColour::Green: return QColor(0, 128, 0);
    case TitleColour::Red: return QColor(255, 0, 0);
    case TitleColour::Plain: break;
    }
    return QGuiApplication::palette().color(QPalette::WindowText);
}

TitleLook KvGridModel::titleLook(int column) const
{
    if (column < 0 || static_cast<std::size_t>(column) >= looks_.size())
        return {};
    return looks_[static_cast<std::size_t>(column)];
}

void KvGridModel::setTitleLook(int column, TitleLook look)
{
    if (column < 0)
        return;
    if (static_cast<std::size_t>(column) >= looks_.size())
        looks_.resize(static_cast<std::size_t>(column) + 1);
    if (looks_[static_cast<std::size_t>(column)] == look)
        return;
    looks_[static_cast<std::size_t>(column)] = look;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void KvGridModel::resetTitleLooks()
{
    if (looks_.empty())
        return;
    const int last = static_cast<int>(looks_.size()) - 1;
    looks_.clear();
    emit headerDataChanged(Qt::Horizontal, 0, last);
}

void KvGridModel::refresh()
{
    beginResetModel();
    endResetModel();
}

QVariant KvGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);

    switch (role) {
    case Qt::DisplayRole:
        return columnTitle(section);
    case Qt::ForegroundRole:
        return QBrush(TitleColourValue(titleLook(section).colour));
    case Qt::FontRole: {
        // Only the weight is set, so the header keeps its own family and size
        // when it resolves this font against its own.
        QFont font;
        font.setBold(titleLook(section).bold);
        return font;
    }
    default:
        return QAbstractTableModel::headerData(section, orientation, role);
    }
}

}  // namespace kv::gui
