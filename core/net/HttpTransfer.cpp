#include "core/net/HttpTransfer.h"

#include "core/NestedWait.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <optional>

namespace tarvex {

HttpTransfer::HttpTransfer(QObject *parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this))
{
}

HttpTransfer::Result HttpTransfer::OpenURL()
{
    Result result;
    QNetworkRequest request(URL);
    request.setTransferTimeout(m_timeoutMs);
    QNetworkReply *reply = m_manager->get(request);

    QByteArray body;
    QString refusal;
    NestedWait wait;
    const auto refuse = [&](const QString &why) {
        if (refusal.isEmpty()) {
            refusal = why;
            reply->abort();
        }
    };
    const QString tooLarge = tr("The page from %1 is larger than %2 MiB and was refused.")
                                 .arg(URL.host())
                                 .arg(m_maxBytes / (1024 * 1024));
    connect(reply, &QNetworkReply::metaDataChanged, wait.context(), [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_maxBytes)
            refuse(tooLarge);
    });
    connect(reply, &QNetworkReply::readyRead, wait.context(), [&] {
        if (!refusal.isEmpty())
            return;
        body += reply->readAll();
        if (body.size() > m_maxBytes) {
            body.clear();
            refuse(tooLarge);
        }
    });
    connect(reply, &QNetworkReply::finished, wait.context(), [&] { wait.finish(); });
    // The program may end while this handler waits; then nothing after the wait runs.
    if (!reply->isFinished() && wait.exec() == NestedWait::Result::ProgramEnded)
        refuse(tr("The program is ending."));

    if (refusal.isEmpty() && reply->error() == QNetworkReply::NoError) {
        body += reply->readAll();
        if (body.size() > m_maxBytes) {
            body.clear();
            refusal = tooLarge;
        }
    }
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!refusal.isEmpty()) {
        result.error = refusal;
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
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(body);
}

} // namespace tarvex
