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
    tarvex::hosting::Created created =
        tarvex::hosting::createControl(QLatin1String(kProgId), parent, search);
    if (!created.control)
        qWarning("cannot create the Ping control: %s", qPrintable(created.error));
    return std::unique_ptr<QWidget>(created.control);
}

bool set(QObject *ping, const char *name, const QVariant &value)
{
    QString error;
    if (!tarvex::hosting::setProperty(ping, name, value, &error)) {
        qWarning("set %s: %s", name, qPrintable(error));
        return false;
    }
    return true;
}

QVariant get(QObject *ping, const char *name)
{
    const tarvex::hosting::Invoked read = tarvex::hosting::property(ping, name);
    if (!read.ok)
        qWarning("get %s: %s", name, qPrintable(read.error));
    return read.value;
}

QVariant send(QObject *ping)
{
    const tarvex::hosting::Invoked sent = tarvex::hosting::call(ping, "Send");
    if (!sent.ok)
        qWarning("Send: %s", qPrintable(sent.error));
    return sent.value;
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
