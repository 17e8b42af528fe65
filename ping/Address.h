#pragma once

// Address texts of the Ping control. Pure functions, tested on their own.

#include <QString>
#include <QtGlobal>

namespace pingocx {

// Dotted-quad text to the address value: a + b*2^8 + c*2^16 + d*2^24 for a.b.c.d, read as a
// signed 32-bit number (so it holds the address in network byte order on this machine's
// little-endian layout). Only the low 8 bits of each part count (256 -> 0, 300 -> 44).
// 0 when the text is not exactly four dot-separated parts, or when a part is not a decimal
// number in the 32-bit range (an empty part, a letter): such a text is no usable address.
qint32 DottedIpToAddress(const QString &text);

// The value of DottedIpToAddress as the 32-bit address in network byte order.
quint32 addressValueToNetwork(qint32 value);

// The classic inet_addr parse of the text converted to single-byte characters:
// "1.2.3" is 1.2.0.3, and "255.255.255.255" is no address (it equals the failure value).
// Returns false when the text is not an address.
bool classicInetAddr(const QString &text, quint32 *networkOrder);

// An address in network byte order as a.b.c.d (each byte 0..255, no leading zeros).
QString dottedText(quint32 networkOrder);

// Whether Send treats the text as a dotted address: its first character is a digit 1 to 9.
bool startsLikeDottedAddress(const QString &hostName);

} // namespace pingocx
