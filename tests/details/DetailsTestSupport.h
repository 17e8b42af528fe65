#pragma once

#include "core/details/QStatQuery.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace tarvex::test {

// A private place for one test's query: the folder of info.bat and tmp.txt, the
// folder of the qstat link and an empty folder to stand for a search path without
// QStat. Installs itself as the details query's environment and restores the old one.
class QueryFolders
{
public:
    QueryFolders();
    ~QueryFolders();

    QString folder() const { return m_dir.path() + QStringLiteral("/program"); }
    QString toolFolder() const { return m_dir.path() + QStringLiteral("/cache/bin"); }
    QString emptyFolder() const { return m_dir.path() + QStringLiteral("/empty"); }
    QString file(const QString &name) const { return folder() + QLatin1Char('/') + name; }
    bool exists(const QString &name) const;
    QByteArray read(const QString &name) const;
    void write(const QString &name, const QByteArray &bytes) const;

    // Puts an executable "qstat" into the program's folder, where it wins over QStat.
    void putStandIn(const QByteArray &shellBody) const;
    // Leaves QStat out of reach: no quakestat, and a search path with nothing in it.
    void hideQStat() const;

private:
    QTemporaryDir m_dir;
    QStatQuery::Environment m_saved;
};

// QStat's binary on this machine, or empty.
QString quakestatBinary();

// True while a process of that id exists and has not ended.
bool processRunning(qint64 pid);

} // namespace tarvex::test
