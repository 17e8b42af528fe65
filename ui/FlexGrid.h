#pragma once

#include "core/grid/GridData.h"

#include <QAbstractTableModel>
#include "ui/TitledGrid.h"

namespace tarvex {

class FlexGridModel;

// The window's grid: a table view over GridData. Row 0 is drawn as the view's fixed
// header, so it never scrolls and a click cannot make it current; data row r is the
// view's row r - 1. Positions reported by MouseDown are in twips from the grid's own
// left and top edges, header included.
class FlexGrid final : public TitledGrid, public IGrid
{
    Q_OBJECT

public:
    FlexGrid(int rows, int cols, QWidget *parent = nullptr);
    ~FlexGrid() override;

    int Rows() const override;
    int Cols() const override;
    int Row() const override;
    bool setRow(int row) override;
    int Col() const override;
    bool setCol(int col) override;
    QString Text() const override;
    bool setText(const QString &text) override;
    bool hasCell(int row, int col) const override;
    QString TextMatrix(int row, int col) const override;
    bool setTextMatrix(int row, int col, const QString &text) override;
    int ColWidth(int col) const override;
    bool setColWidth(int col, int twips) override;
    int ColAlignment(int col) const override;
    bool setColAlignment(int col, int code) override;
    int RowHeight() const override;
    void AddItem(const QString &text) override;
    bool RemoveItem(int index) override;
    bool TruncateRows(int count) override;
    void Sort() override;
    void setSortDescending(bool descending) override;
    void beginBatch() override;
    void endBatch() override;

    const GridData &data() const;

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    void showCurrentCell();

    FlexGridModel *m_model;
    bool m_syncingCurrent = false;
};

} // namespace tarvex
