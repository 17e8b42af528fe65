#include "ui/FlexGrid.h"

#include <QHeaderView>
#include <QItemSelectionModel>

namespace tarvex {

namespace {

Qt::Alignment alignmentForCode(int code)
{
    // Codes: 0-2 left, 3-5 centre, 6-8 right; within each, top, middle, bottom.
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (code >= 3 && code <= 5)
        horizontal = Qt::AlignHCenter;
    else if (code >= 6 && code <= 8)
        horizontal = Qt::AlignRight;
    Qt::Alignment vertical = Qt::AlignTop;
    if (code >= 0 && code <= 8) {
        if (code % 3 == 1)
            vertical = Qt::AlignVCenter;
        else if (code % 3 == 2)
            vertical = Qt::AlignBottom;
    } else {
        vertical = Qt::AlignVCenter;
    }
    return horizontal | vertical;
}

} // namespace

// Presents GridData to the view: data rows as view rows, row 0 as the header.
class FlexGridModel final : public QAbstractTableModel
{
public:
    FlexGridModel(int rows, int cols, QObject *parent)
        : QAbstractTableModel(parent),
          grid(rows, cols)
    { }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : grid.Rows() - 1;
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : grid.Cols();
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid())
            return {};
        if (role == Qt::DisplayRole)
            return grid.TextMatrix(index.row() + 1, index.column());
        if (role == Qt::TextAlignmentRole)
            return int(alignmentForCode(grid.ColAlignment(index.column())));
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal)
            return {};
        if (role == Qt::DisplayRole)
            return grid.TextMatrix(0, section);
        if (role == Qt::TextAlignmentRole)
            return int(alignmentForCode(grid.ColAlignment(section)) & ~Qt::AlignVertical_Mask)
                | int(Qt::AlignVCenter);
        return {};
    }

    bool batching() const { return batchDepth > 0; }

    void cellChanged(int row, int col)
    {
        if (batching())
            return;
        if (row == 0)
            emit headerDataChanged(Qt::Horizontal, col, col);
        else
            emit dataChanged(index(row - 1, col), index(row - 1, col));
    }
    void columnChanged(int col)
    {
        if (batching())
            return;
        emit headerDataChanged(Qt::Horizontal, col, col);
        if (grid.Rows() > 1)
            emit dataChanged(index(0, col), index(grid.Rows() - 2, col));
    }
    void addItem(const QString &text)
    {
        if (!batching())
            beginInsertRows({}, grid.Rows() - 1, grid.Rows() - 1);
        grid.AddItem(text);
        if (!batching())
            endInsertRows();
    }
    bool removeItem(int index)
    {
        const int row = index == grid.Rows() ? grid.Rows() - 1 : index;
        if (row < 1 || row >= grid.Rows() || grid.Rows() <= 2)
            return false;
        if (!batching())
            beginRemoveRows({}, row - 1, row - 1);
        grid.RemoveItem(row);
        if (!batching())
            endRemoveRows();
        return true;
    }
    bool truncateRows(int count)
    {
        if (count < 2)
            return false;
        if (count >= grid.Rows())
            return true;
        // One removal signal for all rows, so that a view drops them in one pass.
        if (!batching())
            beginRemoveRows({}, count - 1, grid.Rows() - 2);
        grid.TruncateRows(count);
        if (!batching())
            endRemoveRows();
        return true;
    }
    void sort()
    {
        if (!batching())
            emit layoutAboutToBeChanged();
        grid.Sort();
        if (!batching()) {
            // Persistent indexes (the view's current cell) follow row positions, not
            // rows: the current cell stays where it was on screen, as Row() does.
            emit layoutChanged();
        }
    }
    void beginBatch()
    {
        if (batchDepth++ == 0)
            beginResetModel();
    }
    void endBatch()
    {
        if (batchDepth > 0 && --batchDepth == 0)
            endResetModel();
    }

    GridData grid;
    int batchDepth = 0;
};

FlexGrid::FlexGrid(int rows, int cols, QWidget *parent)
    : TitledGrid(parent),
      m_model(new FlexGridModel(std::max(rows, 2), cols, this))
{
    setModel(m_model);
    const int rowPixels = this->rowPixels();
    QHeaderView *header = horizontalHeader();
    header->setDefaultSectionSize(twipsToPixels(GridData::DefaultColWidth));
    m_model->grid.setRowHeight(pixelsToTwips(rowPixels));

    for (int c = 0; c < m_model->grid.Cols(); ++c)
        header->resizeSection(c, twipsToPixels(m_model->grid.ColWidth(c)));

    // A column that the user widens by dragging its edge keeps that width for hit tests.
    connect(header, &QHeaderView::sectionResized, this, [this](int col, int, int newSize) {
        if (twipsToPixels(m_model->grid.ColWidth(col)) != newSize)
            m_model->grid.setColWidth(col, pixelsToTwips(newSize));
    });
}

FlexGrid::~FlexGrid() = default;

int FlexGrid::Rows() const { return m_model->grid.Rows(); }
int FlexGrid::Cols() const { return m_model->grid.Cols(); }
int FlexGrid::Row() const { return m_model->grid.Row(); }
int FlexGrid::Col() const { return m_model->grid.Col(); }

bool FlexGrid::setRow(int row)
{
    if (!m_model->grid.setRow(row))
        return false;
    showCurrentCell();
    return true;
}

bool FlexGrid::setCol(int col)
{
    if (!m_model->grid.setCol(col))
        return false;
    showCurrentCell();
    return true;
}

QString FlexGrid::Text() const { return m_model->grid.Text(); }

bool FlexGrid::setText(const QString &text) { return setTextMatrix(Row(), Col(), text); }

bool FlexGrid::hasCell(int row, int col) const { return m_model->grid.hasCell(row, col); }

QString FlexGrid::TextMatrix(int row, int col) const { return m_model->grid.TextMatrix(row, col); }

bool FlexGrid::setTextMatrix(int row, int col, const QString &text)
{
    if (!m_model->grid.setTextMatrix(row, col, text))
        return false;
    m_model->cellChanged(row, col);
    return true;
}

int FlexGrid::ColWidth(int col) const { return m_model->grid.ColWidth(col); }

bool FlexGrid::setColWidth(int col, int twips)
{
    if (!m_model->grid.setColWidth(col, twips))
        return false;
    horizontalHeader()->resizeSection(col, twipsToPixels(twips));
    return true;
}

int FlexGrid::ColAlignment(int col) const { return m_model->grid.ColAlignment(col); }

bool FlexGrid::setColAlignment(int col, int code)
{
    if (!m_model->grid.setColAlignment(col, code))
        return false;
    m_model->columnChanged(col);
    return true;
}

int FlexGrid::RowHeight() const { return m_model->grid.RowHeight(); }

void FlexGrid::AddItem(const QString &text) { m_model->addItem(text); }

bool FlexGrid::RemoveItem(int index)
{
    if (!m_model->removeItem(index))
        return false;
    showCurrentCell();
    return true;
}

bool FlexGrid::TruncateRows(int count)
{
    if (!m_model->truncateRows(count))
        return false;
    showCurrentCell();
    return true;
}

void FlexGrid::setSortDescending(bool descending) { m_model->grid.setSortDescending(descending); }

void FlexGrid::Sort()
{
    m_model->sort();
    viewport()->update();
}

void FlexGrid::beginBatch() { m_model->beginBatch(); }

void FlexGrid::endBatch()
{
    m_model->endBatch();
    if (!m_model->batching()) {
        for (int c = 0; c < Cols(); ++c)
            horizontalHeader()->resizeSection(c, twipsToPixels(ColWidth(c)));
        showCurrentCell();
    }
}

const GridData &FlexGrid::data() const { return m_model->grid; }

void FlexGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    TitledGrid::currentChanged(current, previous);
    if (m_syncingCurrent || !current.isValid())
        return;
    m_model->grid.setRow(current.row() + 1);
    m_model->grid.setCol(current.column());
}

void FlexGrid::showCurrentCell()
{
    if (m_model->batching() || !selectionModel())
        return;
    m_syncingCurrent = true;
    const int row = m_model->grid.Row();
    if (row >= 1) {
        const QModelIndex index = m_model->index(row - 1, m_model->grid.Col());
        selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    m_syncingCurrent = false;
}

} // namespace tarvex
