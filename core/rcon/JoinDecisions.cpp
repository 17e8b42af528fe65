#include "core/rcon/JoinDecisions.h"

#include "core/model/ServerRecord.h"

namespace tarvex::JoinDecisions {

bool wantsFreshAnswer(const model::ServerRecord &server, qint64 nowMs, qint64 maxAgeMs,
                      qint64 lastAskedMs)
{
    if (!server.key.isNumeric())
        return false;
    switch (server.state) {
    case model::ServerState::Asking: return false;
    case model::ServerState::Answered:
        if (nowMs - server.answeredAtMs <= maxAgeMs)
            return false;
        break;
    case model::ServerState::NotAsked:
    case model::ServerState::NoAnswer:
    case model::ServerState::Down: break;
    }
    // A silent server is asked again no sooner than an answered one would be.
    return lastAskedMs <= 0 || nowMs - lastAskedMs > maxAgeMs;
}

bool needsPassword(const model::ServerRecord &server)
{
    if (!server.answered())
        return false;
    for (const model::Rule &rule : server.rules()) {
        if (rule.first != "needpass")
            continue;
        bool ok = false;
        const int bits = rule.second.trimmed().toInt(&ok);
        return ok && (bits & 1);
    }
    return false;
}

QString waitingText(const QString &server, int ahead, int secondsToNextAsk)
{
    QString where;
    if (ahead > 0)
        where = ahead == 1 ? QStringLiteral("full, 1 player ahead of a free slot")
                           : QStringLiteral("full, %1 players ahead of a free slot").arg(ahead);
    else if (ahead < 0)
        where = QStringLiteral("the server names no player limit");
    else
        where = QStringLiteral("no answer yet");
    return QStringLiteral("Waiting for a free slot on %1: %2; next ask in %3 s (Esc stops).")
        .arg(server, where)
        .arg(secondsToNextAsk);
}

} // namespace tarvex::JoinDecisions
