#pragma once

#include <QString>

namespace tarvex {

// Twips are 1/1440 inch; at 96 dots per inch a pixel is 15 twips. Window layouts and
// grid geometry are kept in twips and converted at the widget boundary.
constexpr int TwipsPerPixel = 15;
constexpr int twipsToPixels(int twips)
{
    // Rounded to the nearest pixel, halves away from zero, negative positions too.
    return twips >= 0 ? (twips + TwipsPerPixel / 2) / TwipsPerPixel
                      : -((-twips + TwipsPerPixel / 2) / TwipsPerPixel);
}
constexpr int pixelsToTwips(int pixels) { return pixels * TwipsPerPixel; }

// The table of text cells that every grid of the program offers: a fixed title row 0,
// data rows 1 to Rows() - 1, a current cell, column widths in twips and an ascending
// sort by the current column. Code that fills or reads a grid uses only this interface,
// so it runs the same against the window's grid and against the in-memory one.
//
// Cell accesses outside the grid are refused rather than undefined: the getter then
// returns an empty text and the setter returns false and changes nothing.
class IGrid
{
public:
    virtual ~IGrid() = default;

    virtual int Rows() const = 0;
    virtual int Cols() const = 0;

    virtual int Row() const = 0;
    virtual bool setRow(int row) = 0;
    virtual int Col() const = 0;
    virtual bool setCol(int col) = 0;

    // Text of the current cell.
    virtual QString Text() const = 0;
    virtual bool setText(const QString &text) = 0;

    // Text of any cell; the current cell does not move.
    virtual bool hasCell(int row, int col) const = 0;
    virtual QString TextMatrix(int row, int col) const = 0;
    virtual bool setTextMatrix(int row, int col, const QString &text) = 0;

    virtual int ColWidth(int col) const = 0;
    virtual bool setColWidth(int col, int twips) = 0;
    virtual int ColAlignment(int col) const = 0;
    virtual bool setColAlignment(int col, int code) = 0;

    // Height of one grid row in twips; a press whose vertical position is not greater
    // lies on the title row.
    virtual int RowHeight() const = 0;

    // Appends one row whose first cell holds text, the others empty.
    virtual void AddItem(const QString &text) = 0;
    // Removes row index; an index equal to Rows() names the last row. Refused (false,
    // grid unchanged) when the index names no data row or when the removal would leave
    // no data row.
    virtual bool RemoveItem(int index) = 0;
    // Removes every row after the first count (at least 2: the title row and one data
    // row stay) in one step; false and no change when count < 2.
    virtual bool TruncateRows(int count)
    {
        if (count < 2)
            return false;
        while (Rows() > count && RemoveItem(Rows())) { }
        return true;
    }

    // Sorts the data rows ascending by the current column, whole rows moving together;
    // the title row stays. Cells that read as numbers compare by value, others as text.
    virtual void Sort() = 0;
    // Title presses sort descending instead (the same order, reversed; ties keep theirs).
    virtual void setSortDescending(bool descending) = 0;

    // Many changes follow with no event processing in between (a page being parsed);
    // a grid that shows itself may defer its repaint work until the batch ends.
    virtual void beginBatch() { }
    virtual void endBatch() { }
};

// RAII guard around IGrid::beginBatch / endBatch.
class GridBatch
{
public:
    explicit GridBatch(IGrid &grid)
        : m_grid(grid)
    {
        m_grid.beginBatch();
    }
    ~GridBatch() { m_grid.endBatch(); }
    GridBatch(const GridBatch &) = delete;
    GridBatch &operator=(const GridBatch &) = delete;

private:
    IGrid &m_grid;
};

} // namespace tarvex
