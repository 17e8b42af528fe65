#pragma once

#include "core/history/HistoryStore.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace tarvex::history {

// Options › History: whether servers' history is recorded, how many days of hourly
// figures are kept, and "Clear History". The options are kept when OK is pressed; the
// clearing happens at once.
class HistoryDialog : public QDialog
{
    Q_OBJECT
public:
    HistoryDialog(HistoryStore *store, const Options &options, QWidget *parent = nullptr);
    Options options() const;

    QCheckBox *chkRecord = nullptr;
    QSpinBox *spnDays = nullptr;
    QPushButton *cmdClear = nullptr;
    QLabel *lblState = nullptr;

private:
    HistoryStore *m_store;
};

} // namespace tarvex::history
