#pragma once

// Small text rules shared by the program and the Ping library (which compiles this
// source into itself): no widgets, Qt Core only.

#include <QByteArray>
#include <QString>

#include <optional>

namespace tarvex::text {

// Bytes read as UTF-8 when they are valid UTF-8, else as Latin-1 (every byte a character),
// so that nothing is lost or replaced.
QString utf8OrLatin1(const QByteArray &bytes);

// "True" or "False" in any letter case; nothing for any other text.
std::optional<bool> trueFalseWord(const QString &text);

} // namespace tarvex::text
