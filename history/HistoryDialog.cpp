#include "history/HistoryDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tarvex::history {

HistoryDialog::HistoryDialog(HistoryStore *store, const Options &options, QWidget *parent)
    : QDialog(parent),
      m_store(store)
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("History"));
    auto *box = new QVBoxLayout(this);
    chkRecord = new QCheckBox(QStringLiteral("&Record the servers' history"), this);
    chkRecord->setChecked(options.enabled);
    box->addWidget(chkRecord);
    auto *form = new QFormLayout;
    spnDays = new QSpinBox(this);
    spnDays->setRange(Options::MinDays, Options::MaxDays);
    spnDays->setSuffix(QStringLiteral(" days"));
    spnDays->setValue(options.days);
    form->addRow(QStringLiteral("&Keep hourly figures for:"), spnDays);
    box->addLayout(form);
    box->addWidget(new QLabel(QStringLiteral("Every answer is kept for 48 hours."), this));
    cmdClear = new QPushButton(QStringLiteral("&Clear History"), this);
    box->addWidget(cmdClear);
    lblState = new QLabel(this);
    lblState->setWordWrap(true);
    if (m_store && !m_store->note().isEmpty())
        lblState->setText(m_store->note());
    box->addWidget(lblState);
    connect(cmdClear, &QPushButton::clicked, this, [this] {
        const bool cleared = m_store && m_store->clear();
        lblState->setText(cleared ? QStringLiteral("History cleared.")
                                  : QStringLiteral("The history could not be cleared."));
    });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    box->addWidget(buttons);
}

Options HistoryDialog::options() const
{
    Options o;
    o.enabled = chkRecord->isChecked();
    o.days = spnDays->value();
    return o;
}

} // namespace tarvex::history
