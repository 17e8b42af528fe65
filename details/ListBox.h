#pragma once

#include "core/grid/List.h"

#include <QListWidget>
#include <QString>

namespace tarvex {

// The window's list box: one line per item, in the order added.
class ListBox final : public QListWidget, public IList
{
    Q_OBJECT

public:
    explicit ListBox(QWidget *parent = nullptr);

    int ListCount() const override { return count(); }
    QString List(int index) const override;
    void AddItem(const QString &item) override { addItem(item); }
    void Clear() override { clear(); }
};

} // namespace tarvex
