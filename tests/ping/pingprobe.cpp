// pingprobe: a minimal host of the Ping control for the tests, run as a child process
// (e.g. as an unprivileged user inside a test's network namespace). It creates the control
// only by its program identifier, sends one echo per host given, and prints one line each:
//   RESULT <host> <int|text|nothing> <value> <elapsed ms> <means> <IPAddress> <Alias>
// A message the control asks to show is printed as "BOX <text with | for line breaks>".
// Options: --means <""|datagram|raw|helper>, --timeout <ms>, --resolve, --batch (all hosts
// at once through StartEchoes; the RESULT lines then come as the answers do, with the
// time since the start and "-" for IPAddress and Alias).

#include "hosting/PingLoader.h"

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

    const hosting::Loaded loaded = hosting::loadPing(nullptr);
    if (!loaded.ping) {
        std::printf("LOADERROR %s\n", qPrintable(QString(loaded.error).replace('\n', '|')));
        return 2;
    }
    std::printf("LOADED %s %s\n", qPrintable(loaded.source), qPrintable(loaded.libraryPath));
    hosting::PingControl *ping = loaded.ping;
    QWidget *control = ping->widget();
    QObject::connect(ping, &hosting::PingControl::messageBoxRequested, [](const QString &text) {
        std::printf("BOX %s\n", qPrintable(QString(text).replace('\n', '|')));
        std::fflush(stdout);
    });
    if (!control->setProperty("TimeOut", timeout) || !control->setProperty("ResolveNames", resolve)
        || !control->setProperty("IcmpMeans", means)) {
        std::printf("SETERROR a property was refused\n");
        return 2;
    }
    const auto field = [control](const char *name, QString text = QString()) {
        if (name)
            text = control->property(name).toString();
        return text.isEmpty() ? QStringLiteral("-") : text.replace(' ', '_');
    };
    if (batch) {
        QElapsedTimer clock;
        clock.start();
        bool finished = false;
        QObject::connect(ping, &hosting::PingControl::echoResult,
                         [&](qint32, qint32 index, const QVariant &value) {
                             const char *kind = !value.isValid()           ? "nothing"
                                 : value.metaType().id() == QMetaType::Int ? "int"
                                                                           : "text";
                             std::printf("RESULT %s %s %s %lld %s - -\n",
                                         qPrintable(hosts.value(index)), kind,
                                         qPrintable(field(nullptr, value.toString())),
                                         static_cast<long long>(clock.elapsed()),
                                         qPrintable(control->property("LastMeans").toString()));
                             std::fflush(stdout);
                         });
        QObject::connect(ping, &hosting::PingControl::echoesFinished,
                         [&finished] { finished = true; });
        if (ping->startEchoes(hosts) <= 0) {
            std::printf("CALLERROR StartEchoes\n");
            return 2;
        }
        while (!finished && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        delete control;
        return finished ? 0 : 3;
    }
    for (const QString &host : std::as_const(hosts)) {
        control->setProperty("HostName", host);
        QElapsedTimer clock;
        clock.start();
        QVariant sent;
        if (!QMetaObject::invokeMethod(control, "Send", Qt::DirectConnection,
                                       Q_RETURN_ARG(QVariant, sent))) {
            std::printf("CALLERROR Send\n");
            return 2;
        }
        const qint64 elapsed = clock.elapsed();
        const char *kind = !sent.isValid()           ? "nothing"
            : sent.metaType().id() == QMetaType::Int ? "int"
                                                     : "text";
        std::printf("RESULT %s %s %s %lld %s %s %s\n", qPrintable(host), kind,
                    qPrintable(field(nullptr, sent.toString())), static_cast<long long>(elapsed),
                    qPrintable(field("LastMeans")), qPrintable(field("IPAddress")),
                    qPrintable(field("Alias")));
        std::fflush(stdout);
    }
    delete control;
    return 0;
}
