#include "ui/FlexGrid.h"
#include "core/grid/GridData.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace tarvex;

// The same behaviours hold for the in-memory grid and the window's grid.
class GridTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<IGrid> make(const QString &kind, int rows, int cols)
    {
        if (kind == QLatin1String("memory"))
            return std::make_unique<GridData>(rows, cols);
        return std::make_unique<FlexGrid>(rows, cols);
    }

    static void fillColumn(IGrid &grid, int col, const QStringList &values)
    {
        while (grid.Rows() < values.size() + 1)
            grid.AddItem(QString());
        for (int i = 0; i < values.size(); ++i) {
            grid.setTextMatrix(i + 1, col, values[i]);
            grid.setTextMatrix(i + 1, 0, QStringLiteral("row%1").arg(i));
        }
    }

    static QStringList column(const IGrid &grid, int col)
    {
        QStringList out;
        for (int r = 1; r < grid.Rows(); ++r)
            out << grid.TextMatrix(r, col);
        return out;
    }

private slots:
    void kinds_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("memory") << "memory";
        QTest::newRow("widget") << "widget";
    }

    void removeItemRefusesToLeaveNoDataRow_data() { kinds_data(); }
    void removeItemRefusesToLeaveNoDataRow()
    {
        QFETCH(QString, kind);
        auto grid = make(kind, 2, 5);
        QVERIFY(!grid->RemoveItem(1));
        QVERIFY(!grid->RemoveItem(grid->Rows()));
        QCOMPARE(grid->Rows(), 2);
        grid->AddItem(QStringLiteral("x"));
        grid->AddItem(QStringLiteral("y"));
        // The row count names the last row.
        QVERIFY(grid->RemoveItem(grid->Rows()));
        QCOMPARE(grid->Rows(), 3);
        QCOMPARE(grid->TextMatrix(2, 0), QStringLiteral("x"));
        QVERIFY(!grid->RemoveItem(0));
        QVERIFY(!grid->RemoveItem(7));
        QCOMPARE(grid->Rows(), 3);
    }

    void addItemFillsFirstCellOnly_data() { kinds_data(); }
    void addItemFillsFirstCellOnly()
    {
        QFETCH(QString, kind);
        auto grid = make(kind, 2, 5);
        grid->AddItem(QStringLiteral("END LIST!"));
        QCOMPARE(grid->Rows(), 3);
        QCOMPARE(grid->TextMatrix(2, 0), QStringLiteral("END LIST!"));
        for (int c = 1; c < 5; ++c)
            QCOMPARE(grid->TextMatrix(2, c), QString());
    }

    void accessOutsideIsRefused_data() { kinds_data(); }
    void accessOutsideIsRefused()
    {
        QFETCH(QString, kind);
        auto grid = make(kind, 2, 5);
        QVERIFY(!grid->setTextMatrix(2, 0, QStringLiteral("x")));
        QVERIFY(!grid->setTextMatrix(1, 5, QStringLiteral("x")));
        QVERIFY(!grid->setTextMatrix(-1, 0, QStringLiteral("x")));
        QCOMPARE(grid->TextMatrix(9, 9), QString());
        QVERIFY(!grid->setRow(2));
        QVERIFY(!grid->setCol(5));
        QCOMPARE(grid->Row(), 0);
    }

    void titlesThroughCurrentCell_data() { kinds_data(); }
    void titlesThroughCurrentCell()
    {
        QFETCH(QString, kind);
        auto grid = make(kind, 2, 3);
        grid->setRow(0);
        const QStringList titles{"A", "B", "C"};
        for (int c = 0; c < 3; ++c) {
            grid->setCol(c);
            grid->setText(titles[c]);
        }
        QCOMPARE(grid->Row(), 0);
        QCOMPARE(grid->Col(), 2);
        QCOMPARE(grid->TextMatrix(0, 1), QStringLiteral("B"));
        QCOMPARE(grid->Text(), QStringLiteral("C"));
        QCOMPARE(grid->TextMatrix(1, 1), QString());
    }

    void sortByCurrentColumn_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("sorted");
        for (const char *kind : {"memory", "widget"}) {
            QTest::addRow("%s numbers by value", kind)
                << kind << QStringList{"10", "9", "100", "1.5"}
                << QStringList{"1.5", "9", "10", "100"};
            QTest::addRow("%s numbers before texts", kind)
                << kind << QStringList{"Timed Out", "47", "", "3"}
                << QStringList{"3", "47", "", "Timed Out"};
            QTest::addRow("%s texts ignore case", kind)
                << kind << QStringList{"beta", "Alpha", "gamma"}
                << QStringList{"Alpha", "beta", "gamma"};
        }
    }
    void sortByCurrentColumn()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, values);
        QFETCH(QStringList, sorted);
        auto grid = make(kind, 2, 5);
        grid->setRow(0);
        for (int c = 0; c < 5; ++c) {
            grid->setCol(c);
            grid->setText(QStringLiteral("T%1").arg(c));
        }
        fillColumn(*grid, 4, values);
        grid->setCol(4);
        grid->Sort();
        QCOMPARE(column(*grid, 4), sorted);
        QCOMPARE(grid->TextMatrix(0, 4), QStringLiteral("T4")); // the title row stays
        // Whole rows moved: each row's name still belongs to its value.
        for (int r = 1; r < grid->Rows(); ++r) {
            const int original = values.indexOf(grid->TextMatrix(r, 4));
            QCOMPARE(grid->TextMatrix(r, 0), QStringLiteral("row%1").arg(original));
        }
    }

    void widgetMouseDownInTwips()
    {
        FlexGrid grid(3, 5);
        grid.resize(541, 250);
        grid.setColWidth(0, 2500);
        grid.setColWidth(1, 2500);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QSignalSpy downs(&grid, &FlexGrid::MouseDown);
        QSignalSpy doubles(&grid, &FlexGrid::DblClick);

        // A press on a title cell reports a position on the title row and leaves the
        // current cell where it was.
        const QPoint title = grid.cellCenter(0, 1);
        QTest::mouseClick(grid.horizontalHeader()->viewport(), Qt::LeftButton, {},
                          grid.horizontalHeader()->viewport()->mapFrom(&grid, title));
        QCOMPARE(downs.count(), 1);
        QVERIFY(downs.at(0).at(3).toDouble() <= grid.RowHeight());
        const double x = downs.at(0).at(2).toDouble();
        QVERIFY(x > 2500 && x <= 5000 + 15);
        QCOMPARE(grid.Row(), 0);

        // A press on a data cell makes it current, and lies below the title row.
        const QPoint cell = grid.cellCenter(2, 3);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                          grid.viewport()->mapFrom(&grid, cell));
        QCOMPARE(downs.count(), 2);
        QVERIFY(downs.at(1).at(3).toDouble() > grid.RowHeight());
        QCOMPARE(grid.Row(), 2);
        QCOMPARE(grid.Col(), 3);

        // The double-click comes after the press made the cell current.
        int rowAtDoubleClick = -1;
        connect(&grid, &FlexGrid::DblClick, this, [&] { rowAtDoubleClick = grid.Row(); });
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {},
                           grid.viewport()->mapFrom(&grid, grid.cellCenter(1, 0)));
        QCOMPARE(doubles.count(), 1);
        QCOMPARE(rowAtDoubleClick, 1);
    }

    void widgetBatchKeepsViewInStep()
    {
        FlexGrid grid(2, 5);
        grid.beginBatch();
        for (int i = 0; i < 50; ++i)
            grid.AddItem(QStringLiteral("r%1").arg(i));
        grid.RemoveItem(grid.Rows() - 1);
        grid.endBatch();
        QCOMPARE(grid.model()->rowCount(), grid.Rows() - 1);
        QCOMPARE(grid.model()->index(1, 0).data().toString(), QStringLiteral("r0"));
    }
};

QTEST_MAIN(GridTest)
#include "tst_grid.moc"
