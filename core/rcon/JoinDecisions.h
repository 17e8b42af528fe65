#pragma once

#include <QString>
#include <QtGlobal>

namespace tarvex::model {
class ServerRecord;
}

// What the main window decides about a chosen server before it shows or joins it.
// Everything here returns a value; nothing is sent.
namespace tarvex::JoinDecisions {

// The age beyond which a chosen server's last answer is asked for again.
constexpr qint64 DefaultMaxAnswerAgeMs = 10000;

// Whether the chosen server is to be asked for its status now: it last answered more
// than maxAgeMs ago, or it has no answer and was not asked for one on its selection
// within maxAgeMs (lastAskedMs: when it was, 0 for never). A server listed by a host
// name is never asked (nothing is looked up), nor one the refresh is asking right now.
bool wantsFreshAnswer(const model::ServerRecord &server, qint64 nowMs, qint64 maxAgeMs,
                      qint64 lastAskedMs);

// Whether the server asks joining players for a password: its last answer has the rule
// "needpass" with bit 1 set (bit 2 is the spectators' password, which a player does
// not need). False before any answer.
bool needsPassword(const model::ServerRecord &server);

// The status line while waiting for a free slot: how many players are ahead of a free
// slot (-1: the server names no maximum; 0: no answer yet) and when it is asked next.
QString waitingText(const QString &server, int ahead, int secondsToNextAsk);

} // namespace tarvex::JoinDecisions
