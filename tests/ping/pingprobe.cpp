// pingprobe: a minimal host of the Ping control for the tests, run as a child process
// (e.g. as an unprivileged user inside a test's network namespace). It creates the control
// only by its program identifier, sends one echo per host given, and prints one line each:
//   RESULT <host> <int|text|nothing> <value> <elapsed ms> <means> <IPAddress> <Alias>
// A message the control asks to show is printed as "BOX <text with | for line breaks>".
// Options: --means <""|datagram|raw|helper>, --timeout <ms>, --resolve, --batch (all hosts
// at once through StartEchoes; the RESULT lines then come as the answers do, with the
// time since the start and "-" for IPAddress and Alias).

#include "hosting/ControlLoader.h"
#include "hosting/ControlServer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <cstdio>

using namespace tarvex;

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QString means;
    int timeout = 1000;
    bool resolve = false;
    bool batch = false;
    QStringList hosts;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--means") && i + 1 < args.size())
            means = args[++i];
        else if (args[i] == QLatin1String("--timeout") && i + 1 < args.size())
            timeout = args[++i].toInt();
        else if (args[i] == QLatin1String("--resolve"))
            resolve = true;
        else if (args[i] == QLatin1String("--batch"))
            batch = true;
        else
            hosts << args[i];
    }

    const hosting::Created created =
        hosting::createControl(QStringLiteral("PingOCX.Ping"), nullptr);
    if (!created.control) {
        std::printf("LOADERROR %s\n", qPrintable(QString(created.error).replace('\n', '|')));
        return 2;
    }
    std::printf("LOADED %s %s\n", qPrintable(created.source), qPrintable(created.libraryPath));
    QObject *ping = created.control;
    hosting::routeMessageBoxes(ping, [](const QString &text, const QString &) {
        std::printf("BOX %s\n", qPrintable(QString(text).replace('\n', '|')));
        std::fflush(stdout);
    });
    QString error;
    if (!hosting::setProperty(ping, "TimeOut", timeout, &error)
        || !hosting::setProperty(ping, "ResolveNames", resolve, &error)
        || !hosting::setProperty(ping, "IcmpMeans", means, &error)) {
        std::printf("SETERROR %s\n", qPrintable(error));
        return 2;
    }
    if (batch) {
        QElapsedTimer clock;
        clock.start();
        bool finished = false;
        QString error;
        const bool bound = hosting::bindEchoSignals(
            ping,
            [&](qint32, qint32 index, const QVariant &value) {
                const char *kind = !value.isValid()           ? "nothing"
                    : value.metaType().id() == QMetaType::Int ? "int"
                                                              : "text";
                QString text = value.toString();
                std::printf(
                    "RESULT %s %s %s %lld %s - -\n", qPrintable(hosts.value(index)), kind,
                    qPrintable(text.isEmpty() ? QStringLiteral("-") : text.replace(' ', '_')),
                    static_cast<long long>(clock.elapsed()),
                    qPrintable(hosting::property(ping, "LastMeans").value.toString()));
                std::fflush(stdout);
            },
            [&](qint32) { finished = true; }, &error);
        if (!bound) {
            std::printf("CALLERROR %s\n", qPrintable(error));
            return 2;
        }
        const hosting::Invoked started = hosting::call(ping, "StartEchoes", {hosts});
        if (!started.ok) {
            std::printf("CALLERROR %s\n", qPrintable(started.error));
            return 2;
        }
        while (!finished && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        delete ping;
        return finished ? 0 : 3;
    }
    for (const QString &host : std::as_const(hosts)) {
        hosting::setProperty(ping, "HostName", host);
        QElapsedTimer clock;
        clock.start();
        const hosting::Invoked sent = hosting::call(ping, "Send");
        const qint64 elapsed = clock.elapsed();
        if (!sent.ok) {
            std::printf("CALLERROR %s\n", qPrintable(sent.error));
            return 2;
        }
        const char *kind = !sent.value.isValid()           ? "nothing"
            : sent.value.metaType().id() == QMetaType::Int ? "int"
                                                           : "text";
        QString value = sent.value.toString();
        std::printf("RESULT %s %s %s %lld %s %s %s\n", qPrintable(host), kind,
                    qPrintable(value.isEmpty() ? QStringLiteral("-") : value.replace(' ', '_')),
                    static_cast<long long>(elapsed),
                    qPrintable(hosting::property(ping, "LastMeans").value.toString().isEmpty()
                                   ? QStringLiteral("-")
                                   : hosting::property(ping, "LastMeans").value.toString()),
                    qPrintable(hosting::property(ping, "IPAddress").value.toString().isEmpty()
                                   ? QStringLiteral("-")
                                   : hosting::property(ping, "IPAddress").value.toString()),
                    qPrintable(hosting::property(ping, "Alias").value.toString().isEmpty()
                                   ? QStringLiteral("-")
                                   : hosting::property(ping, "Alias").value.toString()));
        std::fflush(stdout);
    }
    delete ping;
    return 0;
}
