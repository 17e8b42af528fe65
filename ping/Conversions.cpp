#include "Conversions.h"

#include "core/text/TextRules.h"

#include <QLocale>
#include <limits>
#include <cmath>

namespace pingocx {

namespace {

template<typename T> std::optional<T> fail(ConversionError *error, ConversionError why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

bool isNumber(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Double:
    case QMetaType::Float: return true;
    default: return false;
    }
}

// The value as a number, or nothing when it is no number (nor numeric text).
std::optional<double> numberOf(const QVariant &value, ConversionError *error)
{
    if (!value.isValid())
        return 0.0;
    if (value.metaType().id() == QMetaType::Bool)
        return value.toBool() ? -1.0 : 0.0;
    if (isNumber(value))
        return value.toDouble();
    if (value.metaType().id() == QMetaType::QString
        || value.metaType().id() == QMetaType::QByteArray) {
        bool ok = false;
        const double d = QLocale::c().toDouble(value.toString().trimmed(), &ok);
        if (ok)
            return d;
    }
    return fail<double>(error, ConversionError::TypeMismatch);
}

template<typename T> std::optional<T> toIntegral(const QVariant &value, ConversionError *error)
{
    const std::optional<double> d = numberOf(value, error);
    if (!d)
        return std::nullopt;
    if (!std::isfinite(*d))
        return fail<T>(error, ConversionError::Overflow);
    const double rounded = std::nearbyint(*d); // half to even, the default rounding mode
    if (rounded < double(std::numeric_limits<T>::min())
        || rounded > double(std::numeric_limits<T>::max()))
        return fail<T>(error, ConversionError::Overflow);
    if (error)
        *error = ConversionError::None;
    return T(rounded);
}

} // namespace

std::optional<QString> toText(const QVariant &value, ConversionError *error)
{
    if (error)
        *error = ConversionError::None;
    if (!value.isValid())
        return QString();
    switch (value.metaType().id()) {
    case QMetaType::Bool: return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QChar: return value.toString();
    default:
        if (isNumber(value))
            return value.toString();
        return fail<QString>(error, ConversionError::TypeMismatch);
    }
}

std::optional<qint32> toLong(const QVariant &value, ConversionError *error)
{
    return toIntegral<qint32>(value, error);
}

std::optional<qint16> toInteger(const QVariant &value, ConversionError *error)
{
    return toIntegral<qint16>(value, error);
}

std::optional<bool> toBoolean(const QVariant &value, ConversionError *error)
{
    if (error)
        *error = ConversionError::None;
    if (value.metaType().id() == QMetaType::Bool)
        return value.toBool();
    if (value.metaType().id() == QMetaType::QString
        || value.metaType().id() == QMetaType::QByteArray) {
        if (const std::optional<bool> word =
                tarvex::text::trueFalseWord(value.toString().trimmed()))
            return word;
    }
    const std::optional<double> d = numberOf(value, error);
    if (!d)
        return std::nullopt;
    return *d != 0.0;
}

} // namespace pingocx
