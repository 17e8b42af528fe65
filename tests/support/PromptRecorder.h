#pragma once

#include "ui/Dialogs.h"

#include <QList>
#include <QStringList>
#include <deque>
#include <functional>

namespace tarvex::test {

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

} // namespace tarvex::test
