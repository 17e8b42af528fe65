#pragma once

#include <QString>
#include <QStringList>

namespace tarvex {

// The list box operations the details parsers need: items appended at the end and read
// back by index. The window's list box and the in-memory list both offer it, so the
// parsers run the same in the window, in tests and in benchmarks.
class IList
{
public:
    virtual ~IList() = default;
    virtual int ListCount() const = 0;
    virtual QString List(int index) const = 0; // empty text outside the list
    virtual void AddItem(const QString &item) = 0;
    virtual void Clear() = 0;
};

// The in-memory list.
class ListData final : public IList
{
public:
    int ListCount() const override { return int(m_items.size()); }
    QString List(int index) const override { return m_items.value(index); }
    void AddItem(const QString &item) override { m_items.append(item); }
    void Clear() override { m_items.clear(); }
    const QStringList &items() const { return m_items; }

private:
    QStringList m_items;
};

} // namespace tarvex
