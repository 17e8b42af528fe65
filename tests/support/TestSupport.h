#pragma once

#include <QList>
#include <QString>
#include <QTemporaryDir>

namespace tarvex::test {

// A private settings store for one test: QSettings and child processes started by the
// test (through XDG_CONFIG_HOME) both use a fresh temporary folder.
class TempSettings
{
public:
    TempSettings();
    ~TempSettings();
    QString dir() const { return m_dir.path(); }
    QString iniPath() const; // the Tarvex settings file inside it
    // Writes the raw text of the settings file (for stored values of any form).
    void writeIni(const QByteArray &text) const;
    QByteArray readIni() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldXdg;
    bool m_hadXdg;
};

// Replaces the program's end with a recorder for the life of the object.
class EndRecorder
{
public:
    EndRecorder();
    ~EndRecorder();
    int count() const { return m_count; }
    int lastCode() const { return m_code; }

private:
    int m_count = 0;
    int m_code = -1;
};

// Reads a file of the tests' data folder.
QByteArray testData(const QString &name);

} // namespace tarvex::test
