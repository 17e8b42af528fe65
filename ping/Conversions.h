#pragma once

// The conversions that the control's property bag and its calls by dispatch identifier
// apply to a value: to text, to a 16- or 32-bit integer, to a Boolean. Pure functions.

#include <QString>
#include <QVariant>
#include <optional>

namespace pingocx {

enum class ConversionError { None, TypeMismatch, Overflow };

// Text: a text as is, numbers in decimal, Booleans as "True"/"False", nothing as "".
std::optional<QString> toText(const QVariant &value, ConversionError *error);
// 32-bit integer: numbers (fractions rounded half to even), numeric text, True = -1.
std::optional<qint32> toLong(const QVariant &value, ConversionError *error);
// 16-bit integer, as toLong with the smaller range.
std::optional<qint16> toInteger(const QVariant &value, ConversionError *error);
// Boolean: Booleans, numbers (not 0 is True), "True"/"False" in any case, numeric text.
std::optional<bool> toBoolean(const QVariant &value, ConversionError *error);

} // namespace pingocx
