#pragma once
// The "Šifarnici" page: a toolbar over nine editable grids of the code
// lists (articles with their barcodes, groups, cashiers, tariffs, payment
// types, partners, cards with their discounts). The toolbar acts on the
// grid that last had the focus. With the server link on every grid is
// disabled (the data layer refuses their edits in any case).
#include <QObject>
#include <memory>
#include <vector>

class QTabWidget;
class QTableView;
class QToolButton;

namespace kv {
class AppContext;
}
namespace kv::reg {
class CodeList;
}

namespace kv::gui {

class CodeListModel;

class TSifarnici : public QObject {
    Q_OBJECT
public:
    TSifarnici(kv::AppContext& ctx, QTabWidget* pages, QObject* parent);
    ~TSifarnici() override;
    // Once the database and the settings are in: the lists read, the guard applied.
    void StartUp();

    kv::reg::CodeList* list(const char* gridName);
    QTableView* grid(const char* gridName);
    // The toolbar's commands, on the grid that last had the focus.
    void Command(const QString& name);

private:
    struct Entry {
        QTableView* grid;
        CodeListModel* model;
        std::unique_ptr<kv::reg::CodeList> list;
    };
    Entry* add(QWidget* page, const char* gridName, const char* table, bool sortable);
    Entry* byName(const char* gridName);
    void select(Entry& e);
    kv::AppContext& ctx_;
    QTabWidget* pages_;
    std::vector<std::unique_ptr<Entry>> entries_;
    Entry* active_ = nullptr;
    bool syncing_ = false;  // the grid follows the list: its row changes are not the user's
};

}  // namespace kv::gui
