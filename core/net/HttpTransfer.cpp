#include "core/net/HttpTransfer.h"

#include "core/NestedWait.h"
#include "core/text/TextRules.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <optional>

namespace tarvex {

HttpTransfer::HttpTransfer(QObject *parent)
    : QObject(parent),
      m_manager(new QNetworkAccessManager(this))
{ }

namespace {

// Bytes Qt may hold for the reply before this side reads them.
constexpr qint64 ReadBufferBytes = 1024 * 1024;

bool isWebScheme(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

int defaultPort(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
}

// A redirect is followed only when it stays on the scheme, host and port first asked.
bool sameOrigin(const QUrl &from, const QUrl &to)
{
    return isWebScheme(to) && from.scheme().compare(to.scheme(), Qt::CaseInsensitive) == 0
        && from.host().compare(to.host(), Qt::CaseInsensitive) == 0
        && from.port(defaultPort(from)) == to.port(defaultPort(to));
}

QString seconds(int ms)
{
    return ms % 1000 == 0 ? QString::number(ms / 1000) : QString::number(ms / 1000.0, 'f', 1);
}

} // namespace

HttpTransfer::Result HttpTransfer::OpenURL()
{
    Result result;
    if (!isWebScheme(URL) || URL.host().isEmpty()) {
        result.error = tr("%1 is not a web address (http or https) and was not fetched.")
                           .arg(URL.toDisplayString());
        return result;
    }
    QNetworkRequest request(URL);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    // Asked for explicitly, so that Qt neither asks for nor inflates a compressed body:
    // the bytes counted against the limit are the bytes kept.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply *reply = m_manager->get(request);
    reply->setReadBufferSize(ReadBufferBytes);

    QByteArray body;
    QString refusal;
    NestedWait wait;
    const auto refuse = [&](const QString &why) {
        if (refusal.isEmpty()) {
            refusal = why;
            body.clear();
            reply->abort();
        }
    };
    const QString host = URL.host();
    const QString tooLarge = tr("The page from %1 is larger than %2 MiB and was refused.")
                                 .arg(host)
                                 .arg(m_maxBytes / (1024 * 1024));
    connect(reply, &QNetworkReply::redirected, wait.context(), [&](const QUrl &to) {
        if (sameOrigin(URL, to))
            emit reply->redirectAllowed();
        else
            refuse(tr("%1 sent the request on to %2; only a redirect on the same host and "
                      "port is followed.")
                       .arg(host, to.toDisplayString()));
    });
    connect(reply, &QNetworkReply::metaDataChanged, wait.context(), [&] {
        qint64 headBytes = 0;
        for (const QNetworkReply::RawHeaderPair &field : reply->rawHeaderPairs())
            headBytes += field.first.size() + field.second.size() + 4;
        if (headBytes > MaxHeadBytes) {
            refuse(tr("%1 sent a response head larger than %2 KiB; it was refused.")
                       .arg(host)
                       .arg(MaxHeadBytes / 1024));
            return;
        }
        const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
        if (!encoding.isEmpty() && encoding != "identity") {
            refuse(tr("The page from %1 came compressed (%2) though it was not asked for; it "
                      "was refused.")
                       .arg(host, QString::fromLatin1(encoding.left(40))));
            return;
        }
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_maxBytes)
            refuse(tooLarge);
    });
    const auto take = [&] {
        if (body.size() + reply->bytesAvailable() > m_maxBytes)
            refuse(tooLarge);
        else
            body += reply->readAll();
    };
    connect(reply, &QNetworkReply::readyRead, wait.context(), [&] {
        if (refusal.isEmpty())
            take();
    });
    connect(reply, &QNetworkReply::finished, wait.context(), [&] { wait.finish(); });
    // One deadline for the whole exchange, redirects included; the program may end
    // meanwhile, and then nothing after the wait runs.
    if (!reply->isFinished()) {
        switch (wait.exec(m_timeoutMs)) {
        case NestedWait::Result::ProgramEnded: refuse(tr("The program is ending.")); break;
        case NestedWait::Result::TimedOut:
            refuse(tr("%1 did not answer within %2 seconds.").arg(host, seconds(m_timeoutMs)));
            break;
        case NestedWait::Result::Finished: break;
        }
    }

    if (refusal.isEmpty() && reply->error() == QNetworkReply::NoError)
        take();
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!refusal.isEmpty()) {
        result.error = refusal;
    } else if (reply->error() == QNetworkReply::TooManyRedirectsError) {
        result.error =
            tr("%1 redirected the request more than %2 times.").arg(host).arg(MaxRedirects);
    } else if (reply->error() != QNetworkReply::NoError) {
        result.error = reply->errorString();
    } else {
        result.ok = true;
        result.body = std::move(body);
    }
    reply->deleteLater();
    return result;
}

QString HttpTransfer::decodeBody(const QByteArray &body)
{
    // A page in UTF-16 says so by its byte-order mark, or by the zero byte beside the "<"
    // it starts with; read as single bytes, its markup would be lost between the zeros.
    const std::optional<QStringConverter::Encoding> named =
        QStringConverter::encodingForData(body, u'<');
    if (named && *named != QStringConverter::Utf8 && *named != QStringConverter::Latin1) {
        QStringDecoder decoder(*named, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(body);
        if (!decoder.hasError())
            return text;
    }
    return text::utf8OrLatin1(body);
}

} // namespace tarvex
