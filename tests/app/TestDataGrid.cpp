#include "datapage/TDataGrid.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QTest>

using namespace torvane;

namespace {

// A table of `rows` x 10 cells that counts what the view asks of it.
class TCountingModel : public QAbstractTableModel {
public:
    explicit TCountingModel(int rows) : m_rows(rows) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 10; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        ++dataCalls;
        return role == Qt::DisplayRole || role == Qt::EditRole ? QVariant(index.row() * 10 + index.column())
                                                               : QVariant();
    }
    Qt::ItemFlags flags(const QModelIndex&) const override
    {
        ++flagCalls;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    }
    bool setData(const QModelIndex&, const QVariant&, int) override { return true; }

    mutable qint64 flagCalls = 0;
    mutable qint64 dataCalls = 0;

private:
    int m_rows;
};

} // namespace

class TestDataGrid : public QObject {
    Q_OBJECT
private slots:
    void largeSelectionCostsNothingToPaint_data();
    void largeSelectionCostsNothingToPaint();
};

void TestDataGrid::largeSelectionCostsNothingToPaint_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("100 rows selected") << 100;
    QTest::newRow("200,000 rows selected") << 200000;
}

void TestDataGrid::largeSelectionCostsNothingToPaint()
{
    QFETCH(int, rows);
    TCountingModel model(rows);
    TDataGrid grid;
    grid.setModel(&model);
    grid.resize(640, 400);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));

    // Selected as the page selects what a paste or an import wrote: the current cell at the top left.
    QItemSelectionModel* selection = grid.selectionModel();
    selection->setCurrentIndex(model.index(0, 0), QItemSelectionModel::NoUpdate);
    selection->select(QItemSelection(model.index(0, 0), model.index(rows - 1, 9)), QItemSelectionModel::ClearAndSelect);
    QApplication::processEvents();

    // A repaint asks about the cells on screen (some 25 rows of 10) and never about the rest of the selection.
    model.flagCalls = 0;
    model.dataCalls = 0;
    grid.viewport()->repaint();
    grid.horizontalHeader()->viewport()->repaint();
    QVERIFY2(model.flagCalls > 0 && model.flagCalls <= 2000, qPrintable(QString::number(model.flagCalls)));
    QVERIFY2(model.dataCalls > 0 && model.dataCalls <= 20000, qPrintable(QString::number(model.dataCalls)));
    QCOMPARE(selection->selection().size(), 1);
    QCOMPARE(selection->selection().front().height(), rows);

    // A click on a cell inside the selected block selects that cell alone, as in any table.
    const QModelIndex inside = model.index(3, 2);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.visualRect(inside).center());
    QCOMPARE(grid.currentIndex(), inside);
    QCOMPARE(selection->selectedIndexes(), QModelIndexList{inside});
}

QTEST_MAIN(TestDataGrid)
#include "TestDataGrid.moc"
