#pragma once

#include <QWidget>

class QLabel;
class QSplitter;
class QStackedWidget;
class QTableWidget;

namespace tarvex {

namespace model {
class ServerRecord;
}

// Under the server list: the chosen server's players (name, frags, ping; sortable by a
// press on a column title) and its rules (key, value), straight from its last status
// answer. Without an answer the pane says why in words.
class InfoPane : public QWidget
{
    Q_OBJECT

public:
    explicit InfoPane(QWidget *parent = nullptr);

    // Shows server (null: none chosen). asking: a fresh answer has been asked for.
    void showServer(const model::ServerRecord *server, bool asking);

    // The words shown instead of the tables; empty while the tables show.
    QString words() const;
    // The line above the tables: name, map, players and when the server answered.
    QString caption() const;
    QTableWidget *playersTable() const { return m_players; }
    // Puts a widget beside the server's answer (its history), shown whatever the answer.
    void setSideWidget(QWidget *side);
    QTableWidget *rulesTable() const { return m_rules; }

private:
    void showWords(const QString &text);

    QStackedWidget *m_pages;
    QSplitter *m_split;
    QLabel *m_words;
    QLabel *m_caption;
    QTableWidget *m_players;
    QTableWidget *m_rules;
};

} // namespace tarvex
