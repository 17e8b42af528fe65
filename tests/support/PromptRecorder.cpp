#include "support/PromptRecorder.h"

namespace tarvex::test {

PromptRecorder::PromptRecorder()
{
    ui::setResponder([this](const ui::Prompt &prompt) -> ui::Answer {
        m_prompts.append(prompt);
        if (m_hook)
            m_hook(prompt);
        ui::Answer answer;
        if (!m_answers.empty()) {
            if (m_answers.front())
                answer = *m_answers.front();
            m_answers.pop_front();
        }
        return answer;
    });
}

PromptRecorder::~PromptRecorder() { ui::setResponder(nullptr); }

QStringList PromptRecorder::messages() const
{
    QStringList texts;
    for (const ui::Prompt &p : m_prompts) {
        if (p.kind == ui::Prompt::Kind::Message)
            texts.append(p.text);
    }
    return texts;
}

} // namespace tarvex::test
