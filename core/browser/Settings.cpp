#include "core/browser/Settings.h"

#include "core/text/TextRules.h"

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
    if (const std::optional<bool> word = text::trueFalseWord(text))
        return word;
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (ok)
        return number != 0.0;
    return std::nullopt;
}

QString boolToText(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

bool GetBoolSetting(const QString &section, const QString &key, bool absent)
{
    const QString text = GetSetting(section, key, boolToText(absent));
    return textToBool(text).value_or(absent);
}

namespace {

QString storedHost(const QString &key)
{
    return GetSetting(EndpointsSection, key, QString()).trimmed();
}

} // namespace

QString webHostProblem(const QString &what, const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    QString why;
    if (!url.isValid())
        why = QStringLiteral("it is not a valid address");
    else if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        why = QStringLiteral("only http and https hosts are fetched");
    else if (url.host().isEmpty())
        why = QStringLiteral("it names no host");
    if (why.isEmpty())
        return QString();
    return QStringLiteral("The stored %1 \"%2\" cannot be used: %3.")
        .arg(what, text.left(200), why);
}

QUrl endpointHost(const QString &key)
{
    const QString stored = storedHost(key);
    if (stored.isEmpty())
        return QUrl(key == KeyAddServerHost ? QStringLiteral(TARVEX_DEFAULT_ADD_SERVER_HOST)
                                            : QStringLiteral(TARVEX_DEFAULT_SERVER_LIST_HOST));
    if (!webHostProblem(key, stored).isEmpty())
        return QUrl();
    return QUrl(stored, QUrl::StrictMode);
}

QString endpointProblem(const QString &key)
{
    const QString stored = storedHost(key);
    return stored.isEmpty() ? QString() : webHostProblem(key, stored);
}

QUrl endpointUrl(const QString &key, const QString &path)
{
    QUrl url = endpointHost(key);
    if (url.isEmpty())
        return url;
    url.setPath(path);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

} // namespace tarvex::Settings
