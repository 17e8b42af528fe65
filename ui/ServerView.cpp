#include "ui/ServerView.h"

#include "core/grid/Grid.h"

#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QItemSelectionModel>
#include <QMouseEvent>

namespace tarvex {

namespace {
constexpr int DefaultColWidth = 960; // twips

// Draws what the model marks but does not write: a star before a favourite's name, a
// bold name where a buddy plays, the country's flag, and a padlock for a server that
// asks for a password (the font may have no padlock letter).
class MarkDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        using M = model::ServerModel;
        if (index.column() == M::ColName) {
            if (index.data(M::FavouriteRole).toBool())
                option->text = QString(QChar(0x2605)) + u' ' + option->text;
            if (index.data(M::BuddyRole).toBool())
                option->font.setBold(true);
        } else if (index.column() == M::ColCountry) {
            const QString flag = index.data(M::FlagRole).toString();
            if (!flag.isEmpty()) {
                auto icon = m_flags.constFind(flag);
                if (icon == m_flags.constEnd())
                    icon = m_flags.insert(flag, QIcon(flag));
                option->icon = *icon;
                option->decorationSize = QSize(16, 11);
                option->features |= QStyleOptionViewItem::HasDecoration;
            }
        } else if (index.column() == M::ColLock && !option->text.isEmpty()) {
            option->text.clear();
        }
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (index.column() != model::ServerModel::ColLock || index.data().toString().isEmpty())
            return;
        const int h = qMin(option.rect.height() - 4, 12);
        const QRect body(option.rect.left() + 4, option.rect.center().y() - h / 2 + h / 3, h,
                         h - h / 3);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QColor ink = option.palette.color(
            option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text);
        painter->setPen(QPen(ink, 1.5));
        QPainterPath shackle;
        shackle.moveTo(body.left() + 2.5, body.top());
        shackle.arcTo(QRectF(body.left() + 2.5, body.top() - h / 3.0 - 1, body.width() - 5,
                             2 * (h / 3.0) + 2),
                      180, -180);
        painter->drawPath(shackle);
        painter->setBrush(ink);
        painter->drawRect(body);
        painter->restore();
    }

private:
    mutable QHash<QString, QIcon> m_flags;
};

} // namespace

ServerView::ServerView(model::ServerModel *servers, QWidget *parent)
    : TitledGrid(parent),
      m_servers(servers),
      m_proxy(new model::ServerSortProxy(this))
{
    // The order changes only when a title is pressed: rows do not move under the
    // user's pointer while answers come in.
    m_proxy->setDynamicSortFilter(false);
    m_proxy->setSourceModel(servers);
    setModel(m_proxy);
    setItemDelegate(new MarkDelegate(this));
    QHeaderView *header = horizontalHeader();
    header->setDefaultSectionSize(twipsToPixels(DefaultColWidth));
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_widths = QList<int>(Cols(), DefaultColWidth);
    // A column that the user widens by dragging its edge keeps that width for hit tests.
    connect(header, &QHeaderView::sectionResized, this, [this](int col, int, int newSize) {
        if (col < m_widths.size() && twipsToPixels(m_widths[col]) != newSize)
            m_widths[col] = pixelsToTwips(newSize);
    });
}

ServerView::~ServerView() = default;

int ServerView::Rows() const { return m_proxy->rowCount() + 1; }

int ServerView::Cols() const { return m_proxy->columnCount(); }

int ServerView::Row() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

bool ServerView::setRow(int row)
{
    if (row < 0 || row >= Rows())
        return false;
    if (row == 0) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return true;
    }
    const QModelIndex index = m_proxy->index(row - 1, m_col);
    selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
    return true;
}

bool ServerView::setCol(int col)
{
    if (col < 0 || col >= Cols())
        return false;
    m_col = col;
    const int row = Row();
    if (row > 0)
        selectionModel()->setCurrentIndex(m_proxy->index(row - 1, col),
                                          QItemSelectionModel::NoUpdate);
    return true;
}

QString ServerView::TextMatrix(int row, int col) const
{
    if (col < 0 || col >= Cols() || row < 0 || row >= Rows())
        return {};
    if (row == 0)
        return m_proxy->headerData(col, Qt::Horizontal).toString();
    return m_proxy->index(row - 1, col).data().toString();
}

std::optional<model::ServerKey> ServerView::keyAt(int row) const
{
    if (row < 1 || row >= Rows())
        return std::nullopt;
    return m_proxy->index(row - 1, 0).data(model::ServerModel::KeyRole).value<model::ServerKey>();
}

const model::ServerRecord *ServerView::recordAt(int row) const
{
    if (row < 1 || row >= Rows())
        return nullptr;
    return &m_servers->record(m_proxy->mapToSource(m_proxy->index(row - 1, 0)).row());
}

int ServerView::rowOf(const model::ServerKey &key) const
{
    const int source = m_servers->rowOf(key);
    if (source < 0)
        return 0;
    return m_proxy->mapFromSource(m_servers->index(source, 0)).row() + 1;
}

int ServerView::ColWidth(int col) const
{
    if (col < 0 || col >= Cols())
        return 0;
    return m_widths.value(col);
}

bool ServerView::setColWidth(int col, int twips)
{
    if (col < 0 || col >= Cols() || twips < 0)
        return false;
    m_widths[col] = twips;
    horizontalHeader()->resizeSection(col, twipsToPixels(twips));
    return true;
}

int ServerView::RowHeight() const { return pixelsToTwips(horizontalHeader()->height()); }

void ServerView::Sort()
{
    m_sortColumn = m_col;
    const std::optional<model::ServerKey> current = keyAt(Row());
    m_proxy->sort(m_col, m_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    // The chosen server stays chosen wherever it moved.
    if (current)
        setRow(rowOf(*current));
    viewport()->update();
}

void ServerView::sortAgain()
{
    if (m_sortColumn < 0)
        return;
    const int col = m_col;
    m_col = m_sortColumn;
    Sort();
    m_col = col;
}

QPoint ServerView::pressPosition(QMouseEvent *event, QWidget *source) const
{
    QPoint p = TitledGrid::pressPosition(event, source);
    if (source == horizontalHeader()->viewport()) {
        // Columns may be moved or hidden: a press on a title is reported where that
        // column would lie with every column in its own order, so that the handlers'
        // sum of widths finds the column pressed.
        const int col = horizontalHeader()->logicalIndexAt(event->position().toPoint());
        if (col >= 0) {
            int twips = 0;
            for (int c = 0; c < col; ++c)
                twips += ColWidth(c);
            const int inside =
                event->position().toPoint().x() - horizontalHeader()->sectionViewportPosition(col);
            p.setX(twipsToPixels(twips) + qBound(1, inside, twipsToPixels(ColWidth(col)) - 1));
        }
    }
    return p;
}

void ServerView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    TitledGrid::currentChanged(current, previous);
    if (current.isValid())
        m_col = current.column();
}

} // namespace tarvex
