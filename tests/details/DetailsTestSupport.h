#pragma once

#include "core/details/QStatQuery.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace tarvex::test {

// A stand-in for QStat: a shell script named "quakestat" in a private folder, run in
// that folder, so it can read an answer and leave marks there. The details window is
// given it through its query options; the main window finds it once putOnPath() has
// put its folder first on the search path (restored when the stand-in goes).
class QStatStandIn
{
public:
    QStatStandIn();
    ~QStatStandIn();
    QStatStandIn(const QStatStandIn &) = delete;
    QStatStandIn &operator=(const QStatStandIn &) = delete;

    QString folder() const { return m_dir.path(); }
    QString program() const { return file(QStringLiteral("quakestat")); }
    QString file(const QString &name) const { return folder() + QLatin1Char('/') + name; }
    bool exists(const QString &name) const;
    QByteArray read(const QString &name) const;
    void write(const QString &name, const QByteArray &bytes) const;

    // Writes the script: shellBody runs in folder() with QStat's arguments.
    void put(const QByteArray &shellBody) const;
    void putOnPath();
    QStatQuery::Options options(int timeoutMs = QStatQuery::DefaultTimeoutMs) const
    {
        return {program(), timeoutMs};
    }
    // The process id the script wrote into name ("echo $$ > name"), or 0.
    qint64 pid(const QString &name) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_savedPath;
    bool m_pathSet = false;
};

// QStat's binary on this machine, or empty.
QString quakestatBinary();

// True while a process of that id exists and has not ended.
bool processRunning(qint64 pid);

} // namespace tarvex::test
