// The Ping control's address texts: DottedIpToAddress over any text, and the conversions
// that a property value goes through before it becomes one (ping/Conversions).
//
// The input is taken three ways:
//  - as text: DottedIpToAddress must give 0 unless the text has exactly four dot-separated
//    parts, and for four parts that are plain decimal numbers (ASCII blanks around, an
//    optional sign) it must agree with the value computed here on its own, byte by byte;
//  - its first four bytes as the address a.b.c.d: the canonical text gives the value back,
//    in network byte order equals the C library's inet_addr, and prints as the same text;
//  - as a property value (text, whole number, fraction or Boolean): the 16-bit conversion
//    is the 32-bit one within its range, and a converted number reads back from its text.
#include "ping/Address.h"
#include "ping/Conversions.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace pingocx;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// One part of a four-part decimal address: blanks, an optional sign, digits, blanks; its
// value when it is within the 32-bit signed range. Nothing for any other part.
enum class Part { Plain, NotPlain, OutOfRange };
Part plainPart(const std::u16string &part, long long *value)
{
    std::size_t i = 0, end = part.size();
    while (i < end && part[i] == u' ')
        ++i;
    while (end > i && part[end - 1] == u' ')
        --end;
    bool negative = false;
    if (i < end && (part[i] == u'+' || part[i] == u'-')) {
        negative = part[i] == u'-';
        ++i;
    }
    if (i == end)
        return Part::NotPlain;
    long long v = 0;
    bool big = false;
    for (; i < end; ++i) {
        if (part[i] < u'0' || part[i] > u'9')
            return Part::NotPlain;
        if (!big)
            v = v * 10 + (part[i] - u'0');
        if (v > 2147483648LL)
            big = true;
    }
    if (big || (!negative && v > 2147483647LL))
        return Part::OutOfRange;
    *value = negative ? -v : v;
    return Part::Plain;
}

void checkText(const QString &text)
{
    const qint32 got = DottedIpToAddress(text);
    const std::u16string s(reinterpret_cast<const char16_t *>(text.utf16()),
                           std::size_t(text.size()));
    std::vector<std::u16string> parts(1);
    for (char16_t c : s) {
        if (c == u'.')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (parts.size() != 4) {
        require(got == 0);
        return;
    }
    uint32_t expected = 0;
    for (int i = 0; i < 4; ++i) {
        long long v = 0;
        switch (plainPart(parts[std::size_t(i)], &v)) {
        case Part::Plain:
            // The part's lowest byte, in two's complement for a negative part.
            expected |= uint32_t(uint64_t(v) & 0xFF) << (8 * i);
            break;
        case Part::OutOfRange: require(got == 0); return;
        case Part::NotPlain: {
            // Other blank characters than the space may be allowed around the number;
            // nothing else is, and a part without a digit is no number.
            bool digit = false;
            for (char16_t c : parts[std::size_t(i)]) {
                digit = digit || (c >= u'0' && c <= u'9');
                const bool allowed =
                    (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || QChar(c).isSpace();
                if (!allowed)
                    require(got == 0);
            }
            if (!digit)
                require(got == 0);
            return;
        }
        }
    }
    require(got == qint32(expected));
}

void checkQuad(const uint8_t b[4])
{
    const QString text = QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
    const qint32 value = DottedIpToAddress(text);
    require(
        uint32_t(value)
        == (uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24));
    const quint32 network = addressValueToNetwork(value);
    require(std::memcmp(&network, b, 4) == 0);
    require(dottedText(network) == text);
    quint32 classic = 0;
    const bool all255 = b[0] == 255 && b[1] == 255 && b[2] == 255 && b[3] == 255;
    require(classicInetAddr(text, &classic) == !all255);
    if (!all255)
        require(classic == network);
    require(startsLikeDottedAddress(text) == (b[0] != 0));
}

void checkConversions(const uint8_t *data, size_t size)
{
    if (size < 1)
        return;
    QVariant value;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    switch (data[0] % 4) {
    case 0: value = text; break;
    case 1: {
        qint64 n = 0;
        std::memcpy(&n, data + 1, std::min<size_t>(size - 1, sizeof n));
        value = n;
        break;
    }
    case 2: {
        double d = 0;
        std::memcpy(&d, data + 1, std::min<size_t>(size - 1, sizeof d));
        value = d;
        break;
    }
    default: value = size > 1 && (data[1] & 1); break;
    }
    ConversionError longError = ConversionError::None;
    ConversionError shortError = ConversionError::None;
    const std::optional<qint32> asLong = toLong(value, &longError);
    const std::optional<qint16> asShort = toInteger(value, &shortError);
    require(asLong.has_value() == (longError == ConversionError::None));
    require(asShort.has_value() == (shortError == ConversionError::None));
    if (asShort)
        require(asLong && *asLong == *asShort);
    if (asLong && *asLong >= -32768 && *asLong <= 32767)
        require(asShort && *asShort == *asLong);
    if (longError == ConversionError::TypeMismatch)
        require(shortError == ConversionError::TypeMismatch);
    if (asLong) {
        // The number's text converts back to the same number.
        ConversionError again = ConversionError::None;
        const std::optional<QString> asText = toText(QVariant(*asLong), &again);
        require(asText && toLong(QVariant(*asText), &again) == asLong);
        // And the Boolean of a number is whether it is not 0.
        if (value.metaType().id() != QMetaType::QString)
            require(toBoolean(value, &again)
                    == std::optional<bool>(
                        *asLong != 0
                        || (value.metaType().id() == QMetaType::Double && value.toDouble() != 0)));
    }
    // Whatever the value, the address check of its text stands.
    ConversionError why = ConversionError::None;
    if (const std::optional<QString> t = toText(value, &why))
        checkText(*t);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkText(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (size >= 4)
        checkQuad(data);
    checkConversions(data, size);
    return 0;
}
