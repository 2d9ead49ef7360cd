#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTableView>
#include <QtTest>
#include <algorithm>
#include <numeric>
#include <vector>

#include "util/KvGridModel.h"
#include "util/uKvUtils.h"

using namespace kv::gui;
using kv::FieldKind;
using kv::SortStyle;
using kv::TitleColour;

namespace {

struct Column {
    QString field;  // empty: not bound to a field
    QString title;
    FieldKind kind = FieldKind::Data;
};

// An in-memory table behind a grid, sorted through its index field names like
// the system's datasets.
class TableModel : public KvGridModel {
public:
    TableModel(std::vector<Column> columns, std::vector<std::vector<QString>> rows, SortStyle style)
        : columns_(std::move(columns)), rows_(std::move(rows)), dataset_(*this, style)
    {
        order_.resize(rows_.size());
        std::iota(order_.begin(), order_.end(), 0);
    }

    kv::SortableDataset* sortable() override { return &dataset_; }
    QString fieldName(int column) const override { return columns_[column].field; }
    QString columnTitle(int column) const override { return columns_[column].title; }
    bool isOpen() const override { return open; }
    int currentRow() const override { return cursor_; }
    void setCurrentRow(int row) override { cursor_ = row; }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(columns_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || role != Qt::DisplayRole)
            return {};
        // Like a dataset read through its cursor.
        if (readMovesCursor)
            cursor_ = index.row();
        return rows_[order_[index.row()]][index.column()];
    }

    QString cell(int row, int column) const { return rows_[order_[row]][column]; }
    std::string order() const { return dataset_.order; }

    bool open = true;
    bool readMovesCursor = false;

private:
    struct Dataset : kv::SortableDataset {
        Dataset(TableModel& m, SortStyle s) : model(m), style(s) {}
        SortStyle sortStyle() const override { return style; }
        bool canSort() const override { return model.open; }
        FieldKind fieldKind(const std::string& field) const override
        {
            for (const auto& c : model.columns_)
                if (c.field.toStdString() == field)
                    return c.kind;
            return FieldKind::Data;
        }
        std::string indexFieldNames() const override { return order; }
        void setIndexFieldNames(const std::string& s) override
        {
            order = s;
            model.reorder(s);
        }
        void first() override { model.cursor_ = 0; }

        TableModel& model;
        SortStyle style;
        std::string order;
    };

    void reorder(const std::string& order)
    {
        std::iota(order_.begin(), order_.end(), 0);
        if (order.empty())
            return;
        QString field = QString::fromStdString(order);
        bool desc = false;
        for (const QString& suffix : {QStringLiteral(":D"), QStringLiteral(" DESC")})
            if (field.endsWith(suffix)) {
                field.chop(suffix.size());
                desc = true;
            }
        int col = 0;
        while (columns_[col].field != field)
            ++col;
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
            return desc ? rows_[b][col] < rows_[a][col] : rows_[a][col] < rows_[b][col];
        });
    }

    std::vector<Column> columns_;
    std::vector<std::vector<QString>> rows_;
    std::vector<int> order_;
    mutable int cursor_ = 0;
    Dataset dataset_;
};

QColor HeaderColour(const QAbstractItemModel& m, int column)
{
    return m.headerData(column, Qt::Horizontal, Qt::ForegroundRole).value<QBrush>().color();
}

bool HeaderBold(const QAbstractItemModel& m, int column)
{
    return m.headerData(column, Qt::Horizontal, Qt::FontRole).value<QFont>().bold();
}

QColor Plain()
{
    return QApplication::palette().color(QPalette::WindowText);
}

void ClickTitle(QTableView& grid, int column)
{
    QHeaderView* h = grid.horizontalHeader();
    const QPoint at(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
}

int BoldWidth(const QTableView& grid, const QString& text)
{
    QFont f = grid.font();
    f.setBold(true);
    return QFontMetrics(f).horizontalAdvance(text);
}

std::vector<Column> ArticleColumns()
{
    return {{QStringLiteral("Naziv"), QStringLiteral("Naziv")},
            {QStringLiteral("Sifra"), QStringLiteral("Šifra")},
            {QStringLiteral("Iznos"), QStringLiteral("Iznos"), FieldKind::Calculated}};
}

std::vector<std::vector<QString>> ArticleRows()
{
    return {{"Mlijeko", "3", "1,00"}, {"Hljeb", "1", "2,00"}, {"Sok", "4", "3,00"}, {"Jaja", "2", "4,00"}};
}

}  // namespace

class TestGridHelpers : public QObject {
    Q_OBJECT

private slots:
    void threeStateTitleClicks()
    {
        TableModel model(ArticleColumns(), ArticleRows(), SortStyle::ThreeStateSql);
        QTableView grid;
        grid.setModel(&model);
        InstallTitleSort(&grid);
        InstallTitleSort(&grid);  // a second install must not sort twice per click
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));

        const QColor green(0, 128, 0), red(255, 0, 0);
        struct Step {
            int column;
            std::string order;
            QString firstNaziv;  // first row's name after the click
            QColor look[3];
            bool bold[3];
        };
        const std::vector<Step> steps = {
            {0, "Naziv", "Hljeb", {green, Plain(), Plain()}, {true, false, false}},
            {0, "Naziv:D", "Sok", {red, Plain(), Plain()}, {true, false, false}},
            {1, "Sifra", "Hljeb", {Plain(), green, Plain()}, {false, true, false}},
            // A calculated column changes nothing, not even the other titles.
            {2, "Sifra", "Hljeb", {Plain(), green, Plain()}, {false, true, false}},
            {1, "Sifra:D", "Sok", {Plain(), red, Plain()}, {false, true, false}},
            {1, "", "Mlijeko", {Plain(), Plain(), Plain()}, {false, false, false}},
        };
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            const QByteArray where = "step " + QByteArray::number(int(i + 1));
            model.setCurrentRow(3);
            grid.setCurrentIndex(model.index(3, 0));
            ClickTitle(grid, s.column);
            QVERIFY2(model.order() == s.order, where);
            QVERIFY2(model.cell(0, 0) == s.firstNaziv, where);
            for (int c = 0; c < 3; ++c) {
                QVERIFY2(HeaderColour(model, c) == s.look[c], where + " column " + QByteArray::number(c));
                QVERIFY2(HeaderBold(model, c) == s.bold[c], where + " column " + QByteArray::number(c));
            }
            // Every sort moves to the first record, and the grid follows.
            const int expectedRow = s.column == 2 ? 3 : 0;
            QVERIFY2(model.currentRow() == expectedRow, where);
            QVERIFY2(grid.currentIndex().row() == expectedRow, where);
        }

        ClickTitle(grid, 1);
        const QString dir = qEnvironmentVariable("KOVIRA_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            QDir().mkpath(dir);
            grid.grab().save(QDir(dir).filePath(QStringLiteral("grid_title_sorted.png")));
        }
    }

    void twoStateTitleClicksKeepTheRecord()
    {
        TableModel model(ArticleColumns(), ArticleRows(), SortStyle::TwoState);
        QTableView grid;
        grid.setModel(&model);
        model.setCurrentRow(2);
        SortByTitle(&grid, 0);
        QCOMPARE(model.order(), std::string("Naziv"));
        QCOMPARE(HeaderColour(model, 0), QColor(0, 128, 0));
        QVERIFY(HeaderBold(model, 0));
        QCOMPARE(model.currentRow(), 2);
        SortByTitle(&grid, 0);
        QCOMPARE(model.order(), std::string());
        QCOMPARE(HeaderColour(model, 0), Plain());
        QVERIFY(!HeaderBold(model, 0));
        QCOMPARE(model.currentRow(), 2);
    }

    void closedDatasetIsNotSorted()
    {
        TableModel model(ArticleColumns(), ArticleRows(), SortStyle::ThreeStateAdo);
        QTableView grid;
        grid.setModel(&model);
        SortByTitle(&grid, 0);
        QCOMPARE(model.order(), std::string("Naziv"));
        model.open = false;
        SortByTitle(&grid, 0);
        QCOMPARE(model.order(), std::string("Naziv"));
        QCOMPARE(HeaderColour(model, 0), QColor(0, 128, 0));
    }

    void fitSamplesLargeDatasets_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("longCounts");
        QTest::newRow("200 rows: all measured") << 200 << true;
        QTest::newRow("201 rows: middle row skipped") << 201 << false;
    }

    void fitSamplesLargeDatasets()
    {
        QFETCH(int, rows);
        QFETCH(bool, longCounts);
        const QString longText = QStringLiteral("Vrlo dugačak naziv artikla samo u jednom redu");
        std::vector<std::vector<QString>> data(static_cast<std::size_t>(rows), {QStringLiteral("kratko")});
        // Row 100 is the one row a 201-row dataset leaves out.
        data[100][0] = longText;
        TableModel model({{QStringLiteral("Naziv"), QStringLiteral("Naziv")}}, data, SortStyle::TwoState);
        QTableView grid;
        grid.setModel(&model);

        FitGridColumns(&grid);
        const int expected = longCounts ? BoldWidth(grid, longText)
                                        : std::max(BoldWidth(grid, QStringLiteral("kratko")),
                                                   BoldWidth(grid, QStringLiteral("Naziv")));
        QCOMPARE(grid.columnWidth(0), expected + 2);
        QVERIFY(!QApplication::overrideCursor());
    }

    void fitTitlesHiddenColumnsAndCursor()
    {
        const QString longLine = QStringLiteral("Mnogo duži drugi red naslova");
        const QString wideCell = QStringLiteral("Dugačak tekst u koloni bez polja");
        std::vector<Column> columns = {
            {QStringLiteral("Naziv"), QStringLiteral("Kratko\n") + longLine},
            {QStringLiteral("Sifra"), QStringLiteral("Šifra")},
            {QString(), QString()},  // unbound, no title: nothing to measure
            {QStringLiteral("Kol"), QStringLiteral("Kol")},
        };
        std::vector<std::vector<QString>> data;
        for (int r = 0; r < 10; ++r)
            data.push_back({QStringLiteral("a"), QStringLiteral("Šifra broj %1").arg(r), wideCell,
                            QStringLiteral("1")});
        TableModel model(columns, data, SortStyle::TwoState);
        QTableView grid;
        grid.setModel(&model);
        grid.setColumnWidth(1, 77);
        grid.hideColumn(1);
        grid.setColumnWidth(2, 33);
        model.setCurrentRow(4);
        model.readMovesCursor = true;

        FitGridColumns(&grid);
        model.readMovesCursor = false;

        QCOMPARE(model.currentRow(), 4);
        QCOMPARE(grid.columnWidth(0), BoldWidth(grid, longLine) + 2);
        QVERIFY(grid.columnWidth(0) < BoldWidth(grid, QStringLiteral("Kratko\n") + longLine) + 2);
        QCOMPARE(grid.columnWidth(2), 33);
        // A narrow fit stops at the header's own minimum.
        QCOMPARE(grid.columnWidth(3), std::max(BoldWidth(grid, QStringLiteral("Kol")) + 2,
                                               grid.horizontalHeader()->minimumSectionSize()));
        QVERIFY(grid.isColumnHidden(1));
        grid.showColumn(1);
        QCOMPARE(grid.columnWidth(1), 77);
        QVERIFY(!QApplication::overrideCursor());
    }

    void fitLeavesClosedDatasetAlone()
    {
        TableModel model(ArticleColumns(), ArticleRows(), SortStyle::TwoState);
        QTableView grid;
        grid.setModel(&model);
        grid.setColumnWidth(0, 300);
        model.open = false;
        FitGridColumns(&grid);
        QCOMPARE(grid.columnWidth(0), 300);

        // An empty dataset is fitted to its titles.
        TableModel empty(ArticleColumns(), {}, SortStyle::TwoState);
        grid.setModel(&empty);
        FitGridColumns(&grid);
        QCOMPARE(grid.columnWidth(1), BoldWidth(grid, QStringLiteral("Šifra")) + 2);
    }
};

QTEST_MAIN(TestGridHelpers)
#include "test_gridhelpers.moc"
