// The list sources' parsers and the status reply over any bytes. The first byte picks
// the parser; the rest is the body or datagram. Checks, beyond not crashing:
//  - every address a list gives is usable, listed once, and reads back from its text;
//    a binary list or a master answer never gives more than one address per record;
//  - a status reply's decoded texts are printable ASCII of the input's length, and its
//    players text is empty or "n/max".
#include "core/sources/ServerAddress.h"
#include "core/status/StatusReply.h"

#include <QHostAddress>
#include <QSet>
#include <cstdint>
#include <cstdlib>

using namespace tarvex;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void checkList(const sources::ListResult &list, qsizetype maxEntries)
{
    require(list.addresses.size() <= std::min<qsizetype>(maxEntries, sources::MaxListEntries));
    QSet<quint64> seen;
    for (const sources::ServerAddress &a : list.addresses) {
        require(sources::checkAddress(a) == sources::AddressCheck::Usable);
        require(!seen.contains(a.key()));
        seen.insert(a.key());
        const auto back = sources::parseAddressText(a.toString());
        require(back && *back == a);
    }
}

void checkPrintable(const QString &text, qsizetype bytes)
{
    require(text.size() == bytes);
    for (QChar c : text)
        require(c.unicode() >= 0x20 && c.unicode() < 0x7f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 4) {
    case 0: checkList(sources::parseTextList(body), body.size()); break;
    case 1: checkList(sources::parseBinaryList(body), body.size() / 6); break;
    case 2: {
        const QHostAddress master(QStringLiteral("127.0.0.1"));
        if (const auto list = sources::parseMasterReply(body, master, 27900, master, 27900))
            checkList(*list, (body.size() - 12) / 6);
        require(!sources::parseMasterReply(body, master, 27901, master, 27900));
        break;
    }
    default: {
        checkPrintable(status::decodeName(body), body.size());
        const auto reply = status::parseStatusReply(body);
        if (!reply)
            break;
        for (const auto &pair : reply->info)
            checkPrintable(status::decodeName(pair.second), pair.second.size());
        for (const status::Player &p : reply->players)
            for (QChar c : p.name)
                require(c.unicode() >= 0x20 && c.unicode() < 0x7f);
        const QString players = reply->playersText();
        require(players.isEmpty() || players.contains(QLatin1Char('/')));
        break;
    }
    }
    return 0;
}
