// tarvex-listd: serves a server-list page on loopback and records server submissions.
#include "ListService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

using tarvex::tools::ListService;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvex-listd"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves /q2servers from a page file on a loopback address and records every "
                       "/q2serverlist/addserver.asp request target."));
    parser.addHelpOption();
    const QCommandLineOption pageOption(
        QStringLiteral("page"), QStringLiteral("Page file to serve."), QStringLiteral("file"));
    const QCommandLineOption bindOption(QStringLiteral("bind"),
                                        QStringLiteral("Loopback address (default 127.0.0.1)."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port (default 0: any free port)."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption recordOption(QStringLiteral("record"),
                                          QStringLiteral("Append submissions to this file."),
                                          QStringLiteral("file"));
    const QCommandLineOption modeOption(QStringLiteral("mode"),
                                        QStringLiteral("normal, 404, 500, stall or close."),
                                        QStringLiteral("mode"), QStringLiteral("normal"));
    const QCommandLineOption delayOption(QStringLiteral("delay-ms"),
                                         QStringLiteral("Wait this long before answering."),
                                         QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption lifetimeOption(
        QStringLiteral("lifetime-s"),
        QStringLiteral("Stop after this many seconds (0: run until stopped)."), QStringLiteral("s"),
        QStringLiteral("0"));
    const QCommandLineOption documentOption(
        QStringLiteral("document"),
        QStringLiteral(
            "Also serve a file at a request target, e.g. '/?raw=1=list.txt' (repeatable)."),
        QStringLiteral("target=file"));
    parser.addOptions({documentOption, pageOption, bindOption, portOption, recordOption, modeOption,
                       delayOption, lifetimeOption});
    parser.process(app);

    ListService service;
    if (parser.isSet(pageOption)) {
        QFile file(parser.value(pageOption));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "tarvex-listd: cannot read %s: %s\n", qPrintable(file.fileName()),
                         qPrintable(file.errorString()));
            return 2;
        }
        service.setPage(file.readAll());
    }
    for (const QString &doc : parser.values(documentOption)) {
        const qsizetype eq = doc.lastIndexOf(QLatin1Char('='));
        QFile file(doc.mid(eq + 1));
        if (eq <= 0 || !file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "tarvex-listd: --document %s: expected target=readable-file\n",
                         qPrintable(doc));
            return 2;
        }
        service.setDocument(doc.left(eq).toUtf8(), file.readAll());
    }
    const QString mode = parser.value(modeOption);
    if (mode == QLatin1String("404"))
        service.setMode(ListService::Mode::NotFound);
    else if (mode == QLatin1String("500"))
        service.setMode(ListService::Mode::ServerError);
    else if (mode == QLatin1String("stall"))
        service.setMode(ListService::Mode::Stall);
    else if (mode == QLatin1String("close"))
        service.setMode(ListService::Mode::Close);
    else if (mode != QLatin1String("normal")) {
        std::fprintf(stderr, "tarvex-listd: unknown mode %s\n", qPrintable(mode));
        return 2;
    }
    service.setDelayMs(parser.value(delayOption).toInt());
    if (parser.isSet(recordOption))
        service.setRecordFile(parser.value(recordOption));

    if (!service.listen(QHostAddress(parser.value(bindOption)),
                        quint16(parser.value(portOption).toUInt()))) {
        std::fprintf(stderr, "tarvex-listd: cannot listen: %s\n",
                     qPrintable(service.errorString()));
        return 1;
    }
    std::printf("%s\n", qPrintable(service.baseUrl()));
    std::fflush(stdout);
    if (const int lifetime = parser.value(lifetimeOption).toInt(); lifetime > 0)
        QTimer::singleShot(lifetime * 1000, &app, &QCoreApplication::quit);
    return app.exec();
}
