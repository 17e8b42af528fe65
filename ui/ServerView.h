#pragma once

#include "core/model/ServerModel.h"
#include "ui/TitledGrid.h"

#include <optional>

namespace tarvex {

// The browser's server list: a titled grid over the typed server model, sorted by its
// own sorting view. Server row r is the r-th server in the order shown.
class ServerView final : public TitledGrid
{
    Q_OBJECT

public:
    explicit ServerView(model::ServerModel *servers, QWidget *parent = nullptr);
    ~ServerView() override;

    model::ServerModel *serverModel() const { return m_servers; }
    model::ServerSortProxy *sortProxy() const { return m_proxy; }

    // The title row and the servers, as shown.
    int Rows() const;
    int Cols() const;
    // The current server row (0: none chosen yet) and column.
    int Row() const;
    bool setRow(int row);
    int Col() const { return m_col; }
    bool setCol(int col);
    // The text of a cell as shown (row 0: a column title); empty outside the grid.
    QString TextMatrix(int row, int col) const;
    // The server shown in a row, and what is known of it.
    std::optional<model::ServerKey> keyAt(int row) const;
    const model::ServerRecord *recordAt(int row) const;
    // The row a server is shown in, 0 when it is not listed.
    int rowOf(const model::ServerKey &key) const;

    int ColWidth(int col) const; // twips
    bool setColWidth(int col, int twips);
    // Height of the title row in twips; a press whose vertical position is not greater
    // lies on it.
    int RowHeight() const;

    // Sorts the servers by the current column: ascending, or descending once
    // setSortDescending(true); servers that did not answer stay after the others.
    void Sort();
    void setSortDescending(bool descending) { m_descending = descending; }
    bool sortDescending() const { return m_descending; }
    // The sort column of the last Sort(), -1 before any. Sorting again by it puts a
    // list that has changed since (a refresh) back in that order.
    int sortColumn() const { return m_sortColumn; }
    void setSortColumn(int column) { m_sortColumn = column >= 0 && column < Cols() ? column : -1; }
    void sortAgain();

protected:
    QPoint pressPosition(QMouseEvent *event, QWidget *source) const override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    model::ServerModel *m_servers;
    model::ServerSortProxy *m_proxy;
    QList<int> m_widths; // twips, as set: pixels would round them
    int m_col = 0;
    int m_sortColumn = -1;
    bool m_descending = false;
};

} // namespace tarvex
