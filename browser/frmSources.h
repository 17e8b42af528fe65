#pragma once

#include "core/sources/SourceSettings.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarvex {

// Options › Server Sources: the list sources, each switched on or off by its check
// box; a source is added from its kind and address, or removed.
class frmSources final : public QDialog
{
    Q_OBJECT

public:
    explicit frmSources(QWidget *parent = nullptr);

    void setEntries(const QList<sources::SourceEntry> &entries);
    QList<sources::SourceEntry> entries() const;

    // Adds a source from the kind box and the address field; says why not (in a
    // message box) when the entry cannot be used.
    bool addEntry();
    void removeCurrent();

    QListWidget *lstSources = nullptr;
    QComboBox *cboKind = nullptr;
    QLineEdit *txtAddress = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdRemove = nullptr;

private:
    void appendItem(const sources::SourceEntry &entry);
    QList<sources::SourceEntry> m_entries; // parallel to the list's rows
};

} // namespace tarvex
