#include "Address.h"

#include <QStringList>
#include <arpa/inet.h>
#include <cstring>

namespace pingocx {

namespace {

// A part's value, as the conversion of a text to a number takes it: optional blanks
// around an optionally signed run of decimal digits, within the 32-bit signed range.
bool partValue(const QString &part, qint64 *value)
{
    const QString t = part.trimmed();
    if (t.isEmpty())
        return false;
    int i = 0;
    bool negative = false;
    if (t.at(0) == QLatin1Char('+') || t.at(0) == QLatin1Char('-')) {
        negative = t.at(0) == QLatin1Char('-');
        i = 1;
    }
    if (i >= t.size())
        return false;
    qint64 v = 0;
    for (; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = v * 10 + (c.unicode() - '0');
        if (v > Q_INT64_C(2147483648))
            return false;
    }
    v = negative ? -v : v;
    if (v < Q_INT64_C(-2147483648) || v > Q_INT64_C(2147483647))
        return false;
    *value = v;
    return true;
}

} // namespace

qint32 DottedIpToAddress(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 4)
        return 0;
    quint32 value = 0;
    for (int i = 0; i < 4; ++i) {
        qint64 part = 0;
        if (!partValue(parts.at(i), &part))
            return 0;
        // The low 8 bits of the part's two's-complement form: its last two hex digits.
        value |= (quint32(quint64(part) & 0xFF)) << (8 * i);
    }
    return qint32(value);
}

quint32 addressValueToNetwork(qint32 value)
{
    // a sits in the lowest byte of the value, and the first byte in memory of a network-order
    // address is a: the same bits on a little-endian machine. Build it byte by byte anyway.
    const quint32 v = quint32(value);
    unsigned char bytes[4] = {uchar(v & 0xFF), uchar((v >> 8) & 0xFF), uchar((v >> 16) & 0xFF),
                              uchar((v >> 24) & 0xFF)};
    quint32 network = 0;
    std::memcpy(&network, bytes, sizeof network);
    return network;
}

bool classicInetAddr(const QString &text, quint32 *networkOrder)
{
    const QByteArray ansi = text.toLatin1();
    const in_addr_t value = ::inet_addr(ansi.constData());
    if (value == INADDR_NONE)
        return false;
    *networkOrder = value;
    return true;
}

QString dottedText(quint32 networkOrder)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &networkOrder, sizeof bytes);
    return QStringLiteral("%1.%2.%3.%4").arg(bytes[0]).arg(bytes[1]).arg(bytes[2]).arg(bytes[3]);
}

bool startsLikeDottedAddress(const QString &hostName)
{
    if (hostName.isEmpty())
        return false;
    const QChar c = hostName.at(0);
    return c >= QLatin1Char('1') && c <= QLatin1Char('9');
}

} // namespace pingocx
