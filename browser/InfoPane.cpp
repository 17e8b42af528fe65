#include "browser/InfoPane.h"

#include "core/model/ServerRecord.h"
#include "core/status/StatusReply.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tarvex {

namespace {

QTableWidget *makeTable(const QStringList &titles, const QString &name, QWidget *parent)
{
    auto *table = new QTableWidget(0, int(titles.size()), parent);
    table->setHorizontalHeaderLabels(titles);
    table->setAccessibleName(name);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    table->setTabKeyNavigation(false);
    table->verticalHeader()->hide();
    const int rowPixels = std::max(16, table->fontMetrics().height() + 3);
    table->verticalHeader()->setDefaultSectionSize(rowPixels);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return table;
}

// A cell holding a number sorts by its value, not by its text.
QTableWidgetItem *numberItem(int value)
{
    auto *item = new QTableWidgetItem;
    item->setData(Qt::DisplayRole, value);
    return item;
}

} // namespace

InfoPane::InfoPane(QWidget *parent)
    : QWidget(parent),
      m_pages(new QStackedWidget(this)),
      m_split(nullptr),
      m_words(new QLabel(this)),
      m_caption(new QLabel(this)),
      m_players(makeTable({tr("Player"), tr("Frags"), tr("Ping")}, tr("Players"), this)),
      m_rules(makeTable({tr("Rule"), tr("Value")}, tr("Rules"), this))
{
    setObjectName(QStringLiteral("InfoPane"));
    setAccessibleName(tr("Server information"));
    m_words->setObjectName(QStringLiteral("InfoWords"));
    m_words->setAlignment(Qt::AlignCenter);
    m_words->setWordWrap(true);
    m_words->setTextFormat(Qt::PlainText); // names come from the network
    m_caption->setObjectName(QStringLiteral("InfoCaption"));
    m_caption->setTextFormat(Qt::PlainText);
    m_players->setObjectName(QStringLiteral("InfoPlayers"));
    m_rules->setObjectName(QStringLiteral("InfoRules"));
    m_players->setColumnWidth(0, 160);
    m_players->setColumnWidth(1, 50);
    m_rules->setColumnWidth(0, 110);
    // Like a scoreboard until the user presses another title: most frags first.
    m_players->setSortingEnabled(true);
    m_players->horizontalHeader()->setSortIndicator(1, Qt::DescendingOrder);

    auto *tables = new QSplitter(Qt::Horizontal, this);
    tables->setChildrenCollapsible(false);
    tables->addWidget(m_players);
    tables->addWidget(m_rules);
    auto *answerPage = new QWidget(this);
    auto *answerLayout = new QVBoxLayout(answerPage);
    answerLayout->setContentsMargins(0, 0, 0, 0);
    answerLayout->setSpacing(2);
    answerLayout->addWidget(m_caption);
    answerLayout->addWidget(tables, 1);
    m_pages->addWidget(m_words);
    m_pages->addWidget(answerPage);

    m_split = new QSplitter(Qt::Horizontal, this);
    m_split->setChildrenCollapsible(false);
    m_split->addWidget(m_pages);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->addWidget(m_split);
    showServer(nullptr, false);
}

void InfoPane::setSideWidget(QWidget *side)
{
    m_split->addWidget(side);
    m_split->setStretchFactor(0, 3);
    m_split->setStretchFactor(1, 2);
}

QString InfoPane::words() const
{
    return m_pages->currentWidget() == m_words ? m_words->text() : QString();
}

QString InfoPane::caption() const { return m_caption->text(); }

void InfoPane::showWords(const QString &text)
{
    m_words->setText(text);
    m_pages->setCurrentWidget(m_words);
    m_players->setRowCount(0);
    m_rules->setRowCount(0);
}

void InfoPane::showServer(const model::ServerRecord *server, bool asking)
{
    if (!server) {
        showWords(tr("Choose a server in the list to see its players and rules."));
        return;
    }
    // A server that answered before and is silent now still shows that last answer.
    const bool lastAnswer = server->silent() && server->answeredAtMs > 0;
    if (!server->answered() && !lastAnswer) {
        if (asking || server->state == model::ServerState::Asking)
            showWords(tr("Asking the server for its players and rules..."));
        else if (server->state == model::ServerState::Down)
            showWords(tr("The server is down: its port refused the status query."));
        else if (server->state == model::ServerState::NoAnswer)
            showWords(tr("The server did not answer the status query."));
        else if (!server->key.isNumeric())
            showWords(tr("This server is listed by name only and is not asked for its "
                         "status; its players and rules are unknown."));
        else
            showWords(tr("The server has not been asked for its status yet."));
        return;
    }

    const QString name = server->hostname.isEmpty() ? server->listed.name : server->hostname;
    QStringList parts{name.isEmpty() ? server->key.toString() : name};
    if (!server->map.isEmpty())
        parts << tr("map %1").arg(server->map);
    if (!server->playersText.isEmpty())
        parts << tr("%1 players").arg(server->playersText);
    const QString at = QDateTime::fromMSecsSinceEpoch(server->answeredAtMs).toString(u"HH:mm:ss");
    if (lastAnswer)
        parts << (server->state == model::ServerState::Down
                      ? tr("down now; its last answer, at %1").arg(at)
                      : tr("no answer now; its last answer, at %1").arg(at));
    else
        parts << tr("answered at %1").arg(at);
    if (asking)
        parts << tr("asking again...");
    m_caption->setText(parts.join(QStringLiteral(" - ")));

    // Rows are filled unsorted, then put back in the order the user chose.
    const QList<model::PlayerInfo> players = server->players();
    m_players->setSortingEnabled(false);
    m_players->setRowCount(int(players.size()));
    for (int r = 0; r < players.size(); ++r) {
        m_players->setItem(r, 0, new QTableWidgetItem(players[r].name));
        m_players->setItem(r, 1, numberItem(players[r].frags));
        m_players->setItem(r, 2, numberItem(players[r].ping));
    }
    m_players->setSortingEnabled(true);

    const QList<model::Rule> rules = server->rules();
    m_rules->setRowCount(int(rules.size()));
    for (int r = 0; r < rules.size(); ++r) {
        m_rules->setItem(r, 0, new QTableWidgetItem(status::decodeName(rules[r].first)));
        m_rules->setItem(r, 1, new QTableWidgetItem(status::decodeName(rules[r].second)));
    }
    m_pages->setCurrentIndex(1);
}

} // namespace tarvex
