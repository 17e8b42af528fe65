#include "core/net/HttpTransfer.h"

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

HttpTransfer::~HttpTransfer() { abort(); }

void HttpTransfer::abort()
{
    m_running = false;
    m_deadline.stop();
    m_body.clear();
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void HttpTransfer::report(Result result)
{
    m_running = false;
    m_deadline.stop();
    emit finished(result);
}

void HttpTransfer::get(const QUrl &url)
{
    abort();
    m_url = url;
    m_refusal.clear();
    m_running = true;
    if (!isWebScheme(url) || url.host().isEmpty()) {
        Result result;
        result.error = tr("%1 is not a web address (http or https) and was not fetched.")
                           .arg(url.toDisplayString());
        // Reported from the event loop, as every other outcome is.
        QTimer::singleShot(0, this, [this, result, url] {
            if (m_running && !m_reply && m_url == url)
                report(result);
        });
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    // Asked for explicitly, so that Qt neither asks for nor inflates a compressed body:
    // the bytes counted against the limit are the bytes kept.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply *reply = m_manager->get(request);
    m_reply = reply;
    reply->setReadBufferSize(ReadBufferBytes);
    m_redirects = 0;
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl &to) {
        ++m_redirects;
        if (sameOrigin(m_url, to))
            emit reply->redirectAllowed();
        else
            refuse(tr("%1 sent the request on to %2; only a redirect on the same host and "
                      "port is followed.")
                       .arg(m_url.host(), to.toDisplayString()));
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, &HttpTransfer::headArrived);
    connect(reply, &QNetworkReply::readyRead, this, [this] {
        if (m_refusal.isEmpty())
            take();
    });
    connect(reply, &QNetworkReply::finished, this, &HttpTransfer::replyFinished);
    // One deadline for the whole exchange, redirects included.
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(m_timeoutMs);
    disconnect(&m_deadline, nullptr, this, nullptr);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        refuse(tr("%1 did not answer within %2 seconds.").arg(m_url.host(), seconds(m_timeoutMs)));
    });
    m_deadline.start();
}

QString HttpTransfer::tooLargeText() const
{
    return tr("The page from %1 is larger than %2 MiB and was refused.")
        .arg(m_url.host())
        .arg(m_maxBytes / (1024 * 1024));
}

void HttpTransfer::refuse(const QString &why)
{
    if (!m_refusal.isEmpty() || !m_reply)
        return;
    m_refusal = why;
    m_body.clear();
    // The reply reports finished() from abort(); replyFinished() then reports the refusal.
    m_reply->abort();
}

void HttpTransfer::take()
{
    if (m_body.size() + m_reply->bytesAvailable() > m_maxBytes)
        refuse(tooLargeText());
    else
        m_body += m_reply->readAll();
}

void HttpTransfer::headArrived()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    const QString host = m_url.host();
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
        refuse(tooLargeText());
}

void HttpTransfer::replyFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply || !m_running)
        return;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->deleteLater();
    const QString host = m_url.host();
    if (m_refusal.isEmpty() && reply->error() == QNetworkReply::NoError) {
        if (m_body.size() + reply->bytesAvailable() > m_maxBytes) {
            m_refusal = tooLargeText();
            m_body.clear();
        } else {
            m_body += reply->readAll();
        }
    }
    Result result;
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!m_refusal.isEmpty()) {
        result.error = m_refusal;
    } else if (reply->error() == QNetworkReply::TooManyRedirectsError) {
        result.error =
            tr("%1 redirected the request more than %2 times.").arg(host).arg(MaxRedirects);
    } else if (reply->error() == QNetworkReply::NoError
               && (result.httpStatus < 200 || result.httpStatus > 299)) {
        // Qt may end a redirect loop without an error, leaving whatever the last exchange
        // gave as the answer: no page came, and that is said.
        result.error = m_redirects > 0
            ? tr("%1 redirected the request %2 times and never gave the page (a redirect loop).")
                  .arg(host)
                  .arg(m_redirects)
            : tr("%1 answered with HTTP status %2 and no page.").arg(host).arg(result.httpStatus);
    } else if (reply->error() != QNetworkReply::NoError) {
        result.error = reply->errorString();
        // Some failures (a redirect loop among them) come without a description.
        if (result.error.trimmed().isEmpty())
            result.error = tr("The transfer from %1 failed (network error %2).")
                               .arg(host)
                               .arg(int(reply->error()));
    } else {
        result.ok = true;
        result.body = std::move(m_body);
    }
    m_body.clear();
    report(result);
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
