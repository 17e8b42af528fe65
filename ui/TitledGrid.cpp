#include "ui/TitledGrid.h"

#include "core/grid/Grid.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace tarvex {

namespace {

// The codes a grid's MouseDown reports: buttons 1 left, 2 right, 4 middle; the shift
// state as 1 Shift, 2 Ctrl, 4 Alt, added together.
inline int shiftState(Qt::KeyboardModifiers modifiers)
{
    int shift = 0;
    if (modifiers & Qt::ShiftModifier)
        shift |= 1;
    if (modifiers & Qt::ControlModifier)
        shift |= 2;
    if (modifiers & Qt::AltModifier)
        shift |= 4;
    return shift;
}

inline int buttonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
    }
}

} // namespace

TitledGrid::TitledGrid(QWidget *parent)
    : QTableView(parent),
      m_rowPixels(std::max(16, fontMetrics().height() + 3))
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(m_rowPixels);
    verticalHeader()->setMinimumSectionSize(m_rowPixels);

    QHeaderView *header = horizontalHeader();
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(1);
    header->setFixedHeight(m_rowPixels);
    header->viewport()->installEventFilter(this);
}

QPoint TitledGrid::cellCenter(int row, int col) const
{
    const QHeaderView *header = horizontalHeader();
    const int x = header->sectionViewportPosition(col) + header->sectionSize(col) / 2;
    if (row == 0)
        return header->viewport()->mapTo(this, QPoint(x, header->viewport()->height() / 2));
    const QRect rect = visualRect(model()->index(row - 1, col));
    return viewport()->mapTo(this, rect.center());
}

QPoint TitledGrid::pressPosition(QMouseEvent *event, QWidget *source) const
{
    return source->mapTo(this, event->position().toPoint());
}

void TitledGrid::emitMouseDown(QMouseEvent *event, QWidget *source)
{
    const QPoint p = pressPosition(event, source);
    emit MouseDown(buttonCode(event->button()), shiftState(event->modifiers()),
                   double(pixelsToTwips(p.x())), double(pixelsToTwips(p.y())));
}

bool TitledGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == horizontalHeader()->viewport()) {
        QWidget *source = horizontalHeader()->viewport();
        if (event->type() == QEvent::MouseButtonPress) {
            emitMouseDown(static_cast<QMouseEvent *>(event), source);
            // The title row is never made current; a left press may still start
            // dragging a column to another place where columns move.
            return !(horizontalHeader()->sectionsMovable()
                     && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton);
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            // The second press of a double-click, then the double-click itself.
            emitMouseDown(static_cast<QMouseEvent *>(event), source);
            emit DblClick();
            return true;
        }
    }
    return QTableView::eventFilter(watched, event);
}

void TitledGrid::focusInEvent(QFocusEvent *event)
{
    // A table view makes its first cell current when it gains focus without one; here
    // only the user's click or keys move the current cell off the title row.
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TitledGrid::mousePressEvent(QMouseEvent *event)
{
    QTableView::mousePressEvent(event);
    emitMouseDown(event, viewport());
}

void TitledGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTableView::mouseDoubleClickEvent(event);
    emitMouseDown(event, viewport());
    emit DblClick();
}

} // namespace tarvex
