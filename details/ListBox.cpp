#include "details/ListBox.h"

namespace tarvex {

ListBox::ListBox(QWidget *parent)
    : QListWidget(parent)
{
    // Every item is one line of text: uniform sizes keep a long rules list cheap.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QString ListBox::List(int index) const
{
    const QListWidgetItem *it = item(index);
    return it ? it->text() : QString();
}

} // namespace tarvex
