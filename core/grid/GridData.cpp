#include "core/grid/GridData.h"

#include <QLocale>
#include <algorithm>
#include <optional>

namespace tarvex {

namespace {

std::optional<double> numericValue(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

bool gridCellLess(const QString &a, const QString &b)
{
    const auto na = numericValue(a);
    const auto nb = numericValue(b);
    if (na && nb)
        return *na < *nb;
    if (na != nb)
        return bool(na); // numbers first
    const int folded = a.compare(b, Qt::CaseInsensitive);
    if (folded != 0)
        return folded < 0;
    return a < b;
}

GridData::GridData(int rows, int cols)
    : m_cols(std::max(cols, 1))
{
    rows = std::max(rows, 1);
    m_cells.assign(size_t(rows), QStringList());
    for (auto &row : m_cells)
        row.resize(m_cols);
    m_colWidths.assign(size_t(m_cols), DefaultColWidth);
    m_colAlignments.assign(size_t(m_cols), 0);
}

bool GridData::setRow(int row)
{
    if (row < 0 || row >= Rows())
        return false;
    m_row = row;
    return true;
}

bool GridData::setCol(int col)
{
    if (col < 0 || col >= m_cols)
        return false;
    m_col = col;
    return true;
}

bool GridData::hasCell(int row, int col) const
{
    return row >= 0 && row < Rows() && col >= 0 && col < m_cols;
}

QString GridData::TextMatrix(int row, int col) const
{
    if (!hasCell(row, col))
        return {};
    return m_cells[size_t(row)][col];
}

bool GridData::setTextMatrix(int row, int col, const QString &text)
{
    if (!hasCell(row, col))
        return false;
    m_cells[size_t(row)][col] = text;
    return true;
}

int GridData::ColWidth(int col) const
{
    if (col < 0 || col >= m_cols)
        return 0;
    return m_colWidths[size_t(col)];
}

bool GridData::setColWidth(int col, int twips)
{
    if (col < 0 || col >= m_cols || twips < 0)
        return false;
    m_colWidths[size_t(col)] = twips;
    return true;
}

int GridData::ColAlignment(int col) const
{
    if (col < 0 || col >= m_cols)
        return 0;
    return m_colAlignments[size_t(col)];
}

bool GridData::setColAlignment(int col, int code)
{
    if (col < 0 || col >= m_cols)
        return false;
    m_colAlignments[size_t(col)] = code;
    return true;
}

void GridData::AddItem(const QString &text)
{
    QStringList row;
    row.resize(m_cols);
    row[0] = text;
    m_cells.push_back(std::move(row));
}

bool GridData::RemoveItem(int index)
{
    // The refresh passes the row count itself and relies on the last row going.
    if (index == Rows())
        index = Rows() - 1;
    if (index < 1 || index >= Rows() || Rows() <= 2)
        return false;
    m_cells.erase(m_cells.begin() + index);
    if (m_row >= Rows())
        m_row = Rows() - 1;
    return true;
}

bool GridData::TruncateRows(int count)
{
    if (count < 2)
        return false;
    if (count < Rows())
        m_cells.resize(size_t(count));
    if (m_row >= Rows())
        m_row = Rows() - 1;
    return true;
}

void GridData::Sort()
{
    const int col = m_col;
    const bool descending = m_descending;
    std::stable_sort(m_cells.begin() + 1, m_cells.end(),
                     [col, descending](const QStringList &a, const QStringList &b) {
                         return descending ? gridCellLess(b[col], a[col])
                                           : gridCellLess(a[col], b[col]);
                     });
}

} // namespace tarvex
