#include "support/TestSupport.h"

#include "core/Program.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <cstdlib>

namespace tarvex::test {

TempSettings::TempSettings()
    : m_oldXdg(qgetenv("XDG_CONFIG_HOME")),
      m_hadXdg(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    qputenv("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit());
}

TempSettings::~TempSettings()
{
    if (m_hadXdg)
        qputenv("XDG_CONFIG_HOME", m_oldXdg);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

QString TempSettings::iniPath() const
{
    return m_dir.path() + QStringLiteral("/Tarvex/Tarvex.ini");
}

void TempSettings::writeIni(const QByteArray &text) const
{
    QDir().mkpath(m_dir.path() + QStringLiteral("/Tarvex"));
    QFile file(iniPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text);
}

QByteArray TempSettings::readIni() const
{
    QFile file(iniPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

EndRecorder::EndRecorder()
{
    Program::setEndHandler([this](int code) {
        ++m_count;
        m_code = code;
    });
}

EndRecorder::~EndRecorder() { Program::setEndHandler(nullptr); }

QByteArray testData(const QString &name)
{
    QFile file(QStringLiteral(TARVEX_TEST_DATA_DIR "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace tarvex::test
