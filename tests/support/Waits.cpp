#include "support/Waits.h"

#include <QSignalSpy>
#include <QTest>

namespace tarvex::test {

HttpTransfer::Result fetchNow(HttpTransfer &transfer, const QUrl &url)
{
    QSignalSpy done(&transfer, &HttpTransfer::finished);
    transfer.get(url);
    if (!done.wait(transfer.timeoutMs() + 10000)) {
        transfer.abort();
        HttpTransfer::Result r;
        r.error = QStringLiteral("(test) no report from the transfer");
        return r;
    }
    return done.first().first().value<HttpTransfer::Result>();
}

ServerList::FetchedList fetchPageNow(HttpTransfer &transfer, const QString &pageHost)
{
    QString error;
    const QUrl url = ServerList::pageUrl(pageHost, &error);
    if (url.isEmpty()) {
        ServerList::FetchedList list;
        list.error = error;
        return list;
    }
    return ServerList::readPage(fetchNow(transfer, url));
}

sources::FetchResult fetchSourceNow(const sources::SourceEntry &entry,
                                    const sources::UdpTimings &timings)
{
    sources::SourceFetch fetch;
    QSignalSpy done(&fetch, &sources::SourceFetch::finished);
    fetch.start(entry, timings);
    const int bound = HttpTransfer::DefaultTimeoutMs + timings.lookupWaitMs
        + 2 * timings.masterWaitMs + timings.lanWaitMs + 10000;
    if (!done.wait(bound)) {
        fetch.cancel();
        sources::FetchResult r;
        r.error = QStringLiteral("(test) no report from the fetch");
        return r;
    }
    return done.first().first().value<sources::FetchResult>();
}

} // namespace tarvex::test
