#include "PingTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QProcess>
#include <QWidget>
#include <QtTest>
#include <unistd.h>

namespace pingtest {

QString binDir() { return QStringLiteral(TARVEX_BIN_DIR); }

QString libraryPath() { return binDir() + QStringLiteral("/libPingOCX.so"); }

QString helperPath() { return binDir() + QStringLiteral("/pingocx-icmp-helper"); }

std::unique_ptr<QWidget> createPing(QWidget *parent)
{
    tarvex::hosting::SearchPath search;
    search.folders << binDir();
    const tarvex::hosting::Loaded loaded = tarvex::hosting::loadPing(parent, search);
    if (!loaded.ping)
        qWarning("cannot create the Ping control: %s", qPrintable(loaded.error));
    return std::unique_ptr<QWidget>(loaded.ping ? loaded.ping->widget() : nullptr);
}

tarvex::hosting::PingControl *typed(QObject *ping)
{
    return ping->findChild<tarvex::hosting::PingControl *>(QString(), Qt::FindDirectChildrenOnly);
}

bool set(QObject *ping, const char *name, const QVariant &value)
{
    const int index = ping->metaObject()->indexOfProperty(name);
    if (index < 0 || !ping->metaObject()->property(index).write(ping, value)) {
        qWarning("set %s: no such property, or the value does not fit", name);
        return false;
    }
    return true;
}

QVariant get(QObject *ping, const char *name)
{
    if (ping->metaObject()->indexOfProperty(name) < 0)
        qWarning("get %s: no such property", name);
    return ping->property(name);
}

QVariant send(QObject *ping)
{
    QVariant result;
    if (!QMetaObject::invokeMethod(ping, "Send", Qt::DirectConnection,
                                   Q_RETURN_ARG(QVariant, result)))
        qWarning("Send: the call failed");
    return result;
}

QStringList ProbeRun::result(const QString &host, int nth) const
{
    int seen = 0;
    for (const QString &line : lines) {
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.size() >= 8 && f[0] == QLatin1String("RESULT") && f[1] == host && seen++ == nth)
            return f;
    }
    return {};
}

QStringList ProbeRun::boxes() const
{
    QStringList texts;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("BOX ")))
            texts << line.mid(4);
    }
    return texts;
}

ProbeRun runProbe(const QStringList &args, const QProcessEnvironment &env, int asUser,
                  int timeoutMs)
{
    ProbeRun run;
    QProcess process;
    process.setProcessEnvironment(env);
    const QString probe = binDir() + QStringLiteral("/pingprobe");
    if (asUser >= 0) {
        process.setProgram(QStringLiteral("setpriv"));
        process.setArguments(QStringList{QStringLiteral("--reuid=%1").arg(asUser),
                                         QStringLiteral("--regid=%1").arg(asUser),
                                         QStringLiteral("--clear-groups"),
                                         QStringLiteral("--inh-caps=-all"), probe}
                             + args);
    } else {
        process.setProgram(probe);
        process.setArguments(args);
    }
    process.start();
    if (!process.waitForStarted(5000)) {
        run.errors = process.errorString();
        return run;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        run.errors = QStringLiteral("probe did not finish in time");
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromLocal8Bit(process.readAllStandardOutput())
                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.errors += QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

bool isRoot() { return geteuid() == 0; }

} // namespace pingtest
