#include "core/status/StatusReply.h"

#include <algorithm>

namespace tarvex::status {

namespace {

const QByteArray PrintHeader("\xff\xff\xff\xffprint\n", 10);

// A decimal integer with an optional "-"; no value for anything else.
std::optional<int> readInt(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

// `frags ping "name"`; a name without quotes runs to the end of the line.
std::optional<Player> readPlayer(QByteArrayView line)
{
    line = line.trimmed();
    const qsizetype first = line.indexOf(' ');
    if (first < 0)
        return std::nullopt;
    const QByteArrayView rest = line.sliced(first + 1).trimmed();
    const qsizetype second = rest.indexOf(' ');
    if (second < 0)
        return std::nullopt;
    const auto frags = readInt(line.first(first));
    const auto ping = readInt(rest.first(second));
    if (!frags || !ping)
        return std::nullopt;
    QByteArrayView name = rest.sliced(second + 1).trimmed();
    if (name.startsWith('"')) {
        name = name.sliced(1);
        const qsizetype close = name.lastIndexOf('"');
        if (close >= 0)
            name = name.first(close);
    }
    return Player{*frags, *ping, decodeName(name)};
}

} // namespace

QByteArray statusQuery() { return QByteArray("\xff\xff\xff\xffstatus\n", 11); }

QString ServerStatus::value(const char *key) const
{
    for (const auto &pair : info) {
        if (pair.first == key)
            return decodeName(pair.second);
    }
    return QString();
}

QString ServerStatus::playersText() const { return shown().playersText; }

ServerStatus::Shown ServerStatus::shown() const
{
    // The first rule of each name counts, as value() reads it.
    const QByteArray *hostname = nullptr, *map = nullptr, *max = nullptr, *counts[2] = {};
    for (const auto &pair : info) {
        const QByteArray &key = pair.first;
        if (!hostname && key == "hostname")
            hostname = &pair.second;
        else if (!map && key == "mapname")
            map = &pair.second;
        else if (!max && key == "maxclients")
            max = &pair.second;
        else if (!counts[0] && key == "clients")
            counts[0] = &pair.second;
        else if (!counts[1] && key == "players")
            counts[1] = &pair.second;
    }
    Shown out;
    if (hostname)
        out.hostname = decodeName(*hostname);
    if (map)
        out.map = decodeName(*map);
    const QString maxText = max ? decodeName(*max).trimmed() : QString();
    bool ok = false;
    const int maxClients = maxText.toInt(&ok);
    if (ok)
        out.maxClients = maxClients;
    if (maxText.isEmpty())
        return out;
    qsizetype count = players.size();
    for (const QByteArray *own : counts) {
        if (!own)
            continue;
        const int n = decodeName(*own).trimmed().toInt(&ok);
        if (ok && n > count && n <= 1024)
            count = n;
    }
    out.playersText = QString::number(count) + QLatin1Char('/') + maxText;
    return out;
}

QString decodeName(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const uchar c = uchar(byte) & 0x7f;
        char16_t glyph;
        if (c == 0x10)
            glyph = u'[';
        else if (c == 0x11)
            glyph = u']';
        else if (c >= 0x12 && c <= 0x1b)
            glyph = char16_t(u'0' + (c - 0x12));
        else if (c < 0x20 || c == 0x7f)
            glyph = u'.';
        else
            glyph = c;
        *out++ = QChar(glyph);
    }
    return text;
}

std::optional<ServerStatus> parseStatusReply(const QByteArray &datagram)
{
    if (!datagram.startsWith(PrintHeader))
        return std::nullopt;
    ServerStatus status;
    const QByteArrayView body(datagram.constData() + PrintHeader.size(),
                              datagram.size() - PrintHeader.size());
    status.truncated = !body.isEmpty() && !body.endsWith('\n');
    status.datagram = datagram;

    bool infoSeen = false;
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        QByteArrayView line = body.sliced(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (!infoSeen) {
            if (!line.startsWith('\\'))
                continue;
            infoSeen = true;
            // "\key\value\key\value..."; a key cut off without its value is dropped.
            QList<QByteArrayView> parts;
            qsizetype at = 1;
            while (at <= line.size()) {
                qsizetype next = line.indexOf('\\', at);
                if (next < 0)
                    next = line.size();
                parts.append(line.sliced(at, next - at));
                at = next + 1;
            }
            for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
                status.info.append({parts[i].toByteArray(), parts[i + 1].toByteArray()});
            continue;
        }
        if (const auto player = readPlayer(line))
            status.players.append(*player);
    }
    return status;
}

} // namespace tarvex::status
