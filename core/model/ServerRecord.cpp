#include "core/model/ServerRecord.h"

#include "core/status/StatusReply.h"

namespace tarvex::model {

QList<PlayerInfo> ServerRecord::players() const
{
    QList<PlayerInfo> out;
    out.reserve(m_playerScores.size());
    qsizetype from = 0;
    for (const auto &score : m_playerScores) {
        const qsizetype end = m_playerNames.indexOf(QChar(0), from);
        out.append({m_playerNames.mid(from, end - from), score.first, score.second});
        from = end + 1;
    }
    return out;
}

void ServerRecord::setPlayers(const QList<PlayerInfo> &players)
{
    m_playerNames.clear();
    m_playerScores.clear();
    m_playerScores.reserve(players.size());
    for (const PlayerInfo &p : players) {
        // A decoded name holds no NUL (control bytes read as "."); strip one anyway so
        // the packing stays whole.
        QString name = p.name;
        name.remove(QChar(0));
        m_playerNames += name;
        m_playerNames += QChar(0);
        m_playerScores.append({p.frags, p.ping});
    }
    m_playerNames.squeeze();
    m_playerScores.squeeze();
}

QList<Rule> ServerRecord::rules() const
{
    QList<Rule> out;
    qsizetype from = 0;
    while (from < m_rules.size()) {
        const qsizetype k = m_rules.indexOf('\0', from);
        const qsizetype v = m_rules.indexOf('\0', k + 1);
        out.append({m_rules.mid(from, k - from), m_rules.mid(k + 1, v - k - 1)});
        from = v + 1;
    }
    return out;
}

void ServerRecord::setRules(const QList<Rule> &rules)
{
    m_rules.clear();
    for (const Rule &r : rules) {
        // The info string cannot carry a NUL; drop one should it come.
        m_rules += QByteArray(r.first).replace('\0', "");
        m_rules += '\0';
        m_rules += QByteArray(r.second).replace('\0', "");
        m_rules += '\0';
    }
    m_rules.squeeze();
}

void ServerRecord::takeAnswer(const status::ServerStatus &answer)
{
    hostname = answer.value("hostname");
    map = answer.value("mapname");
    bool ok = false;
    const int max = answer.value("maxclients").toInt(&ok);
    maxClients = ok ? max : -1;
    playersText = answer.playersText();
    QList<PlayerInfo> list;
    list.reserve(answer.players.size());
    for (const status::Player &p : answer.players)
        list.append({p.name, p.frags, p.ping});
    setPlayers(list);
    setRules(answer.info);
}

} // namespace tarvex::model
