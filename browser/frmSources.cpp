#include "browser/frmSources.h"

#include "ui/Dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace tarvex {

using sources::SourceEntry;
using sources::SourceKind;

frmSources::frmSources(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSources"));
    setWindowTitle(tr("Server Sources"));
    lstSources = new QListWidget(this);
    lstSources->setObjectName(QStringLiteral("lstSources"));
    cboKind = new QComboBox(this);
    cboKind->setObjectName(QStringLiteral("cboKind"));
    for (SourceKind kind : {SourceKind::TextList, SourceKind::BinaryList, SourceKind::Master,
                            SourceKind::Page, SourceKind::Lan, SourceKind::Favourites})
        cboKind->addItem(sources::kindName(kind), int(kind));
    txtAddress = new QLineEdit(this);
    txtAddress->setObjectName(QStringLiteral("txtAddress"));
    txtAddress->setPlaceholderText(tr("http://host/?raw=1, host:27900 or a.b.c.d:port ..."));
    cmdAdd = new QPushButton(tr("&Add"), this);
    cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    cmdRemove = new QPushButton(tr("Re&move"), this);
    cmdRemove->setObjectName(QStringLiteral("cmdRemove"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Sources (checked ones are used):"), this), 0, 0, 1, 3);
    grid->addWidget(lstSources, 1, 0, 1, 3);
    grid->addWidget(cboKind, 2, 0);
    grid->addWidget(txtAddress, 2, 1);
    grid->addWidget(cmdAdd, 2, 2);
    grid->addWidget(cmdRemove, 3, 2);
    grid->addWidget(buttons, 4, 0, 1, 3);
    resize(560, 320);

    connect(cmdAdd, &QPushButton::clicked, this, &frmSources::addEntry);
    connect(cmdRemove, &QPushButton::clicked, this, &frmSources::removeCurrent);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void frmSources::appendItem(const SourceEntry &entry)
{
    auto *item = new QListWidgetItem(sources::describe(entry), lstSources);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(entry.enabled ? Qt::Checked : Qt::Unchecked);
    m_entries.append(entry);
}

void frmSources::setEntries(const QList<SourceEntry> &entries)
{
    lstSources->clear();
    m_entries.clear();
    for (const SourceEntry &e : entries)
        appendItem(e);
}

QList<SourceEntry> frmSources::entries() const
{
    QList<SourceEntry> out = m_entries;
    for (int i = 0; i < out.size(); ++i)
        out[i].enabled = lstSources->item(i)->checkState() == Qt::Checked;
    return out;
}

bool frmSources::addEntry()
{
    SourceEntry entry;
    entry.kind = SourceKind(cboKind->currentData().toInt());
    entry.address = txtAddress->text().trimmed();
    if (const auto why = sources::checkEntry(entry)) {
        ui::messageBox(this, *why, ui::MsgIcon::Warning);
        return false;
    }
    appendItem(entry);
    txtAddress->clear();
    return true;
}

void frmSources::removeCurrent()
{
    const int row = lstSources->currentRow();
    if (row < 0 || row >= m_entries.size())
        return;
    delete lstSources->takeItem(row);
    m_entries.removeAt(row);
}

} // namespace tarvex
