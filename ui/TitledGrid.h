#pragma once

#include <QTableView>

namespace tarvex {

// A table view whose column titles are its fixed header, counted as row 0: data row r is
// the view's row r - 1. A press on the titles never makes a cell current. Presses and
// double-clicks anywhere are reported with positions in twips from the grid's own left
// and top edges, header included, so that handlers can tell a title press by its height.
class TitledGrid : public QTableView
{
    Q_OBJECT

public:
    explicit TitledGrid(QWidget *parent = nullptr);

    // Centre of a cell in this widget's coordinates (row 0: the title cell), for tests
    // and tools that drive the grid like a user.
    QPoint cellCenter(int row, int col) const;

signals:
    // A mouse press anywhere on the grid; x and y in twips from the grid's left and top.
    void MouseDown(int button, int shift, double x, double y);
    // A double-click anywhere on the grid, raised after the press made the cell current.
    void DblClick();

protected:
    // Where a press lies, in this widget's pixels; a grid whose columns move may report
    // another place.
    virtual QPoint pressPosition(QMouseEvent *event, QWidget *source) const;
    // The height of one row, title row included, in pixels.
    int rowPixels() const { return m_rowPixels; }

    bool eventFilter(QObject *watched, QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void emitMouseDown(QMouseEvent *event, QWidget *source);

    int m_rowPixels;
};

} // namespace tarvex
