#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarvex {

// Options › Buddies: edits the list of player names to watch for. The list is stored
// when the dialog is accepted.
class frmBuddies : public QDialog
{
    Q_OBJECT

public:
    explicit frmBuddies(const QStringList &names, QWidget *parent = nullptr);

    QStringList names() const;
    QLineEdit *nameField() const { return m_name; }
    QListWidget *list() const { return m_list; }
    QPushButton *addButton() const { return m_add; }
    QPushButton *removeButton() const { return m_remove; }

    void addName();
    void removeSelected();

private:
    QLineEdit *m_name;
    QListWidget *m_list;
    QPushButton *m_add;
    QPushButton *m_remove;
};

} // namespace tarvex
