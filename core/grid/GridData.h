#pragma once

#include "core/grid/Grid.h"

#include <QStringList>
#include <vector>

namespace tarvex {

// Ascending order of two cells as the grids sort them: texts that read as numbers
// compare by value and come before all other texts, which compare as text (letter
// case only breaking ties). Returns true when a sorts before b.
bool gridCellLess(const QString &a, const QString &b);

// The in-memory grid: the cells, the current cell and the column layout. The window's
// grid keeps its data in one of these; tests, benchmarks and fuzzing use it directly.
class GridData final : public IGrid
{
public:
    static constexpr int DefaultColWidth = 960; // twips
    static constexpr int DefaultRowHeight = 240; // twips

    GridData(int rows, int cols);

    int Rows() const override { return int(m_cells.size()); }
    int Cols() const override { return m_cols; }

    int Row() const override { return m_row; }
    bool setRow(int row) override;
    int Col() const override { return m_col; }
    bool setCol(int col) override;

    QString Text() const override { return TextMatrix(m_row, m_col); }
    bool setText(const QString &text) override { return setTextMatrix(m_row, m_col, text); }

    bool hasCell(int row, int col) const override;
    QString TextMatrix(int row, int col) const override;
    bool setTextMatrix(int row, int col, const QString &text) override;

    int ColWidth(int col) const override;
    bool setColWidth(int col, int twips) override;
    int ColAlignment(int col) const override;
    bool setColAlignment(int col, int code) override;

    int RowHeight() const override { return m_rowHeight; }
    void setRowHeight(int twips) { m_rowHeight = twips; }

    void AddItem(const QString &text) override;
    bool RemoveItem(int index) override;
    bool TruncateRows(int count) override;
    void Sort() override;
    void setSortDescending(bool descending) override { m_descending = descending; }

    const QStringList &rowCells(int row) const { return m_cells[size_t(row)]; }

private:
    std::vector<QStringList> m_cells;
    std::vector<int> m_colWidths;
    std::vector<int> m_colAlignments;
    int m_cols;
    int m_row = 0;
    int m_col = 0;
    bool m_descending = false;
    int m_rowHeight = DefaultRowHeight;
};

} // namespace tarvex
