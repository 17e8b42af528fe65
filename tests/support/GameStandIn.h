#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvex::test {

// A stand-in for the game: a shell script that records how it was started. Each start
// leaves one finished record in runsDir: "program=<its file name>", "cwd=<folder>",
// then "arg=<argument>" for each argument, one a line.
QString writeGameStandIn(const QString &file, const QString &runsDir, bool executable = true);

// The records of the starts so far, each as its lines.
QList<QStringList> gameRuns(const QString &runsDir);

} // namespace tarvex::test
