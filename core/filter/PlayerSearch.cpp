#include "core/filter/PlayerSearch.h"

#include <QStringMatcher>

#include <algorithm>

namespace tarvex::filter {

namespace {

// Lower case one character at a time: the result is as long as the text, so lines keep
// their places, and plain letters skip the character tables.
QChar *writeFolded(QChar *out, QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            *out++ = QChar(u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u);
        else
            *out++ = c.toLower();
    }
    return out;
}

QString folded(QStringView text)
{
    QString out(text.size(), Qt::Uninitialized);
    writeFolded(out.data(), text);
    return out;
}

} // namespace

PlayerSearch::PlayerSearch(const QString &text)
{
    if (text.startsWith(u'/')) {
        m_isExpression = true;
        m_expression = QRegularExpression(text.mid(1), QRegularExpression::CaseInsensitiveOption);
        if (!m_expression.isValid())
            m_error = QStringLiteral("Invalid regular expression: %1 (at offset %2)")
                          .arg(m_expression.errorString())
                          .arg(m_expression.patternErrorOffset());
        else
            m_expression.optimize();
    } else {
        m_text = text.trimmed();
    }
}

void prepare(SearchServer &server)
{
    server.foldedPlayers.clear();
    server.foldedPlayers.reserve(server.players.size());
    for (const QString &player : server.players)
        server.foldedPlayers.append(player.toLower());
    server.foldedAll = server.foldedPlayers.join(u'\n');
}

bool PlayerSearch::matches(const QString &playerName) const
{
    if (!isValid())
        return false;
    if (m_isExpression)
        return m_expression.match(playerName).hasMatch();
    // An empty text lists nobody: the dialog starts empty, not with every player.
    return !m_text.isEmpty() && playerName.contains(m_text, Qt::CaseInsensitive);
}

QList<PlayerMatch> PlayerSearch::run(const QList<SearchServer> &servers, int limit) const
{
    QList<PlayerMatch> found;
    if (!isValid() || (!m_isExpression && m_text.isEmpty()))
        return found;
    const QString lower = m_text.toLower();
    for (const SearchServer &server : servers) {
        const bool folded = !m_isExpression && server.foldedPlayers.size() == server.players.size();
        // Most servers hold no match: one look at all their names rules them out.
        if (folded && !lower.contains(u'\n') && !server.foldedAll.isEmpty()
            && !server.foldedAll.contains(lower))
            continue;
        for (qsizetype i = 0; i < server.players.size(); ++i) {
            const QString &player = server.players[i];
            if (folded ? !server.foldedPlayers[i].contains(lower) : !matches(player))
                continue;
            found.append({player, server.key, server.name, server.address});
            if (found.size() >= limit)
                return found;
        }
    }
    return found;
}

PlayerIndex::PlayerIndex(QList<SearchServer> servers)
    : m_servers(std::move(servers))
{
    qsizetype length = 0;
    int players = 0;
    for (const SearchServer &server : std::as_const(m_servers)) {
        players += int(server.players.size());
        for (const QString &name : server.players)
            length += name.size() + 1;
    }
    m_names.reserve(length);
    m_folded.resize(length);
    QChar *fold = m_folded.data();
    m_lineStart.reserve(size_t(players) + 1);
    m_lineServer.reserve(size_t(players));
    for (int s = 0; s < m_servers.size(); ++s) {
        for (const QString &name : m_servers.at(s).players) {
            // The joined search needs whole characters and one name a line.
            for (const QChar c : name)
                if (c == u'\n' || c.isSurrogate())
                    m_joinable = false;
            m_lineStart.push_back(m_names.size());
            m_lineServer.push_back(s);
            m_names += name;
            m_names += u'\n';
            fold = writeFolded(fold, name);
            *fold++ = u'\n';
        }
    }
    m_lineStart.push_back(m_names.size());
}

bool PlayerSearch::joinedSearchIsSound() const
{
    const QString pattern = m_expression.pattern();
    for (const char *token : {"\\A", "\\z", "\\Z", "\\G", "(*"})
        if (pattern.contains(QLatin1String(token)))
            return false;
    for (qsizetype at = pattern.indexOf(u"(?"); at >= 0; at = pattern.indexOf(u"(?", at + 2))
        if (pattern.mid(at, 3) != u"(?:")
            return false;
    return true;
}

void PlayerSearch::addLine(const PlayerIndex &index, int line, QList<PlayerMatch> &found) const
{
    const SearchServer &server = index.m_servers[index.m_lineServer[size_t(line)]];
    const qsizetype from = index.m_lineStart[size_t(line)];
    const qsizetype to = index.m_lineStart[size_t(line) + 1] - 1;
    found.append({index.m_names.mid(from, to - from), server.key, server.name, server.address});
}

QList<PlayerMatch> PlayerSearch::run(const PlayerIndex &index, int limit) const
{
    QList<PlayerMatch> found;
    if (!isValid() || (!m_isExpression && m_text.isEmpty()) || index.m_lineServer.empty())
        return found;
    const auto lineOf = [&index](qsizetype at) {
        return int(std::upper_bound(index.m_lineStart.begin(), index.m_lineStart.end(), at)
                   - index.m_lineStart.begin() - 1);
    };
    const int lines = index.playerCount();
    if (!m_isExpression && index.m_joinable && !m_text.contains(u'\n')) {
        const QStringMatcher matcher(folded(m_text), Qt::CaseSensitive);
        for (qsizetype at = matcher.indexIn(index.m_folded, 0); at >= 0;) {
            const int line = lineOf(at);
            addLine(index, line, found);
            if (found.size() >= limit || line + 1 >= lines)
                break;
            at = matcher.indexIn(index.m_folded, index.m_lineStart[size_t(line) + 1]);
        }
        return found;
    }
    if (m_isExpression && index.m_joinable && joinedSearchIsSound()) {
        // One scan of all names; a match found there points at the lines it touches, and
        // each of those is then checked alone, so nothing across two names is reported.
        const QRegularExpression joined(m_expression.pattern(),
                                        m_expression.patternOptions()
                                            | QRegularExpression::MultilineOption);
        qsizetype from = 0;
        while (from < index.m_names.size()) {
            const QRegularExpressionMatch m =
                joined.match(index.m_names, from, QRegularExpression::NormalMatch,
                             QRegularExpression::DontCheckSubjectStringMatchOption);
            if (!m.hasMatch())
                break;
            const int first = lineOf(m.capturedStart());
            const int last =
                std::max(first, lineOf(std::max(m.capturedStart(), m.capturedEnd() - 1)));
            for (int line = first; line <= last && line < lines; ++line) {
                const qsizetype a = index.m_lineStart[size_t(line)];
                const qsizetype b = index.m_lineStart[size_t(line) + 1] - 1;
                if (m_expression.match(QStringView(index.m_names).mid(a, b - a)).hasMatch()) {
                    addLine(index, line, found);
                    if (found.size() >= limit)
                        return found;
                }
            }
            if (last + 1 >= lines)
                break;
            from = index.m_lineStart[size_t(last) + 1];
        }
        return found;
    }
    return run(index.servers(), limit);
}

} // namespace tarvex::filter
