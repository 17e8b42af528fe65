#include "core/browser/Settings.h"

#include <QLocale>
#include <QSettings>

namespace tarvex::Settings {

namespace {
QSettings store()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tarvex"),
                     QStringLiteral("Tarvex"));
}
} // namespace

QString GetSetting(const QString &section, const QString &key, const QString &absent)
{
    QSettings s = store();
    const QVariant value = s.value(section + QLatin1Char('/') + key);
    if (!value.isValid())
        return absent;
    // A value that the INI reader took for a list (a hand-written "a, b") is read
    // back as the text it was.
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool SaveSetting(const QString &section, const QString &key, const QString &value)
{
    QSettings s = store();
    s.setValue(section + QLatin1Char('/') + key, value);
    s.sync();
    return s.status() == QSettings::NoError;
}

std::optional<bool> textToBool(const QString &text)
{
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (ok)
        return number != 0.0;
    return std::nullopt;
}

QString boolToText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

bool GetBoolSetting(const QString &section, const QString &key, bool absent)
{
    const QString text = GetSetting(section, key, boolToText(absent));
    return textToBool(text).value_or(absent);
}

QUrl endpointHost(const QString &key)
{
    const QString fallback = key == KeyAddServerHost
        ? QStringLiteral(TARVEX_DEFAULT_ADD_SERVER_HOST)
        : QStringLiteral(TARVEX_DEFAULT_SERVER_LIST_HOST);
    QString text = GetSetting(EndpointsSection, key, fallback).trimmed();
    QUrl url(text);
    if (text.isEmpty() || !url.isValid() || url.host().isEmpty())
        url = QUrl(fallback);
    return url;
}

QUrl endpointUrl(const QString &key, const QString &path)
{
    QUrl url = endpointHost(key);
    url.setPath(path);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

} // namespace tarvex::Settings
