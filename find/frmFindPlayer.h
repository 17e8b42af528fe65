#pragma once

#include "core/filter/PlayerSearch.h"

#include <QDialog>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

namespace tarvex {

// Find Player: lists, as the text is typed, every player on every answered server whose
// name matches, with the server's name and address. Choosing a line (Enter or a double
// click) emits the server's key.
class frmFindPlayer : public QDialog
{
    Q_OBJECT

public:
    using ServerSource = std::function<QList<filter::SearchServer>()>;

    using IndexSource = std::function<std::shared_ptr<const filter::PlayerIndex>()>;

    // servers is asked afresh on every search, so the list follows the latest refresh.
    explicit frmFindPlayer(ServerSource servers, QWidget *parent = nullptr);
    // The same, from servers made ready for searching (kept by the caller until the
    // list changes, so that a keystroke does not gather every player again).
    explicit frmFindPlayer(IndexSource servers, QWidget *parent = nullptr);

    QLineEdit *searchField() const { return m_text; }
    QListWidget *results() const { return m_results; }
    QLabel *message() const { return m_message; }

signals:
    void serverChosen(const QString &serverKey);

public slots:
    void search();

private:
    void choose(QListWidgetItem *item);

    IndexSource m_servers;
    QLineEdit *m_text;
    QListWidget *m_results;
    QLabel *m_message;
};

} // namespace tarvex
