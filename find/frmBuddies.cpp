#include "find/frmBuddies.h"

#include "core/filter/BuddyList.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace tarvex {

frmBuddies::frmBuddies(const QStringList &names, QWidget *parent)
    : QDialog(parent),
      m_name(new QLineEdit(this)),
      m_list(new QListWidget(this)),
      m_add(new QPushButton(tr("&Add"), this)),
      m_remove(new QPushButton(tr("&Remove"), this))
{
    setWindowTitle(tr("Buddies"));
    setAccessibleName(tr("Buddies"));
    auto *label = new QLabel(tr("Player &name:"), this);
    label->setBuddy(m_name);
    m_name->setAccessibleName(tr("Buddy name"));
    m_name->setMaxLength(64);
    m_list->setAccessibleName(tr("Buddy list"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_add->setAccessibleName(tr("Add buddy"));
    m_remove->setAccessibleName(tr("Remove buddy"));
    m_remove->setShortcut(QKeySequence::Delete);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setAccessibleName(tr("Dialog buttons"));
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(tr("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(tr("Cancel"));

    auto *layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0);
    layout->addWidget(m_name, 0, 1);
    layout->addWidget(m_add, 0, 2);
    layout->addWidget(m_list, 1, 0, 1, 2);
    layout->addWidget(m_remove, 1, 2, Qt::AlignTop);
    layout->addWidget(buttons, 2, 0, 1, 3);

    m_list->addItems(filter::cleanBuddies(names));
    connect(m_add, &QPushButton::clicked, this, &frmBuddies::addName);
    connect(m_name, &QLineEdit::returnPressed, this, &frmBuddies::addName);
    connect(m_remove, &QPushButton::clicked, this, &frmBuddies::removeSelected);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Enter in the name field adds the name; it does not close the dialog.
    m_add->setAutoDefault(false);
    buttons->button(QDialogButtonBox::Ok)->setAutoDefault(false);
}

QStringList frmBuddies::names() const
{
    QStringList all;
    for (int i = 0; i < m_list->count(); ++i)
        all.append(m_list->item(i)->text());
    return all;
}

void frmBuddies::addName()
{
    const QStringList before = names();
    const QStringList after = filter::cleanBuddies(before + QStringList{m_name->text()});
    if (after.size() > before.size())
        m_list->addItem(after.last());
    m_name->clear();
}

void frmBuddies::removeSelected() { qDeleteAll(m_list->selectedItems()); }

} // namespace tarvex
