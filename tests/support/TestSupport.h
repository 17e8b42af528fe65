#pragma once

#include "ui/Dialogs.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>

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

// Answers every modal box instead of the screen and records what was asked. Answers
// are taken from a queue; when it is empty a message box is just closed, an input
// box or a file dialog is cancelled. A hook may run inside a box (to act while the
// program waits on it).
class PromptRecorder
{
public:
    PromptRecorder();
    ~PromptRecorder();

    void answerNext(ui::Answer answer) { m_answers.push_back(std::move(answer)); }
    void onPrompt(std::function<void(const ui::Prompt &)> hook) { m_hook = std::move(hook); }

    const QList<ui::Prompt> &prompts() const { return m_prompts; }
    QStringList messages() const; // texts of the message boxes shown, in order
    void clear() { m_prompts.clear(); }

private:
    QList<ui::Prompt> m_prompts;
    std::deque<ui::Answer> m_answers;
    std::function<void(const ui::Prompt &)> m_hook;
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
