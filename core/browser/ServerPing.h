#pragma once

#include "core/model/ServerKey.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace tarvex {

// Pinging the listed servers: the host cut out of each address, the answers matched to
// their servers and the progress texts.
namespace ServerPing {

inline const QString ListStatusPrefix = QStringLiteral("Pinging Servers - ");
inline const QString SelectedStatusPrefix = QStringLiteral("Pinging Server - ");
inline const QString FinishedText =
    QStringLiteral("Finished pinging.  Double-click a server to join game.");

// row / rows as a whole percentage with "%" appended ("0%" format); exact halves round
// up (1 of 8 is 12.5 and shows "13%").
QString percentText(int row, int rows);

// What a ping cell shows for a result: the milliseconds as digits, a failure text
// unchanged, nothing for an empty result.
QString resultText(const QVariant &result);

// One ping of many servers at once, all answers awaited together: which server each
// host came from, and the progress as answers come in any order.
struct Target
{
    model::ServerKey key;
    QString address; // as the list shows it
    int row = 0; // where it was shown when the ping started
};

class Run
{
public:
    // Every server shown (the list ping), or the one chosen (the selected ping); rows
    // counts the grid's rows, its title row included, for the progress texts.
    static Run list(QList<Target> targets, int rows);
    static Run selected(const Target &target, int rows);

    // The hosts to ping, in order: each address cut at its first ":".
    QStringList hosts() const;
    bool isEmpty() const { return m_targets.isEmpty(); }
    bool finished() const { return m_done >= m_targets.size(); }

    struct Answer
    {
        model::ServerKey key; // the server it is for
        QVariant result;
        // "Pinging Servers - N%" with N = answers so far / rows, or for the selected
        // ping "Pinging Server - N%" with N = its row / rows.
        QString progress;
    };
    // The answer for hosts()[index]; nothing for an index that is not awaited (out of
    // range, or answered already).
    std::optional<Answer> answer(int index, const QVariant &result);

private:
    QList<Target> m_targets;
    QList<bool> m_answered;
    int m_rows = 0;
    int m_done = 0;
    bool m_selected = false;
};

} // namespace ServerPing
} // namespace tarvex
