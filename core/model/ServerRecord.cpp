#include "core/model/ServerRecord.h"

#include "core/filter/ServerFacts.h"
#include "core/status/StatusReply.h"

namespace tarvex::model {

namespace {
// Real servers answer in at most about 4 KB.
constexpr qsizetype MaxKeptAnswerBytes = 4096;
} // namespace

QString agoText(qint64 then, qint64 now)
{
    const qint64 secs = std::max<qint64>(0, now - then);
    if (secs < 60)
        return QStringLiteral("just now");
    if (secs < 3600)
        return QStringLiteral("%1 min ago").arg(secs / 60);
    if (secs < 2 * 86400)
        return QStringLiteral("%1 h ago").arg(secs / 3600);
    return QStringLiteral("%1 d ago").arg(secs / 86400);
}

QList<PlayerInfo> ServerRecord::players() const
{
    QList<PlayerInfo> out;
    if (!m_answer.isEmpty()) {
        const std::optional<status::ServerStatus> answer = status::parseStatusReply(m_answer);
        if (answer) {
            out.reserve(answer->players.size());
            for (const status::Player &p : answer->players)
                out.append({p.name, p.frags, p.ping});
        }
        return out;
    }
    out.reserve(m_playerScores.size());
    qsizetype from = 0;
    for (const auto &score : m_playerScores) {
        const qsizetype end = m_playerNames.indexOf(QChar(0), from);
        out.append({m_playerNames.mid(from, end - from), score.first, score.second});
        from = end + 1;
    }
    return out;
}

void ServerRecord::unpackAnswer()
{
    if (m_answer.isEmpty())
        return;
    const QList<PlayerInfo> answerPlayers = players();
    const QList<Rule> answerRules = rules();
    m_answer.clear();
    m_answerPlayers = 0;
    setPlayers(answerPlayers);
    setRules(answerRules);
}

void ServerRecord::setPlayers(const QList<PlayerInfo> &players)
{
    unpackAnswer();
    qsizetype length = 0;
    for (const PlayerInfo &p : players)
        length += p.name.size() + 1;
    m_playerNames.clear();
    m_playerNames.reserve(length);
    m_playerScores.clear();
    m_playerScores.reserve(players.size());
    for (const PlayerInfo &p : players) {
        // A decoded name holds no NUL (control bytes read as "."); strip one anyway so
        // the packing stays whole.
        if (p.name.contains(QChar(0)))
            m_playerNames += QString(p.name).remove(QChar(0));
        else
            m_playerNames += p.name;
        m_playerNames += QChar(0);
        m_playerScores.append({p.frags, p.ping});
    }
}

QList<Rule> ServerRecord::rules() const
{
    QList<Rule> out;
    if (!m_answer.isEmpty()) {
        const std::optional<status::ServerStatus> answer = status::parseStatusReply(m_answer);
        return answer ? answer->info : out;
    }
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
    unpackAnswer();
    qsizetype length = 0;
    for (const Rule &r : rules)
        length += r.first.size() + r.second.size() + 2;
    m_rules.clear();
    m_rules.reserve(length);
    // The info string cannot carry a NUL; drop one should it come.
    const auto append = [this](const QByteArray &text) {
        if (text.contains('\0'))
            m_rules += QByteArray(text).replace('\0', "");
        else
            m_rules += text;
        m_rules += '\0';
    };
    for (const Rule &r : rules) {
        append(r.first);
        append(r.second);
    }
}

void ServerRecord::takeAnswer(const status::ServerStatus &answer)
{
    status::ServerStatus::Shown shown = answer.shown();
    hostname = std::move(shown.hostname);
    map = std::move(shown.map);
    maxClients = shown.maxClients;
    playersText = std::move(shown.playersText);
    const filter::ServerFacts facts = filter::serverFacts(answer.info);
    mod = facts.mod;
    gameType = facts.gameType;
    passworded = facts.passworded;
    if (!answer.datagram.isEmpty() && answer.datagram.size() <= MaxKeptAnswerBytes) {
        // Read again from the datagram when asked for: a refresh of thousands of servers
        // takes their answers without copying a name or a rule. An outsized answer is
        // packed instead, so that it cannot make the list grow by its size.
        m_playerNames.clear();
        m_playerScores.clear();
        m_rules.clear();
        m_answer = answer.datagram;
        m_answerPlayers = int(answer.players.size());
        return;
    }
    m_answer.clear();
    m_answerPlayers = 0;
    QList<PlayerInfo> players;
    players.reserve(answer.players.size());
    for (const status::Player &p : answer.players)
        players.append({p.name, p.frags, p.ping});
    setPlayers(players);
    setRules(answer.info);
}

} // namespace tarvex::model
