#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QDialog;
class QFileDialog;
class QWidget;

namespace tarvex::ui {

// The program's application title: the caption of its message boxes.
inline const QString AppTitle = QStringLiteral("Tarvex");

enum class MsgIcon { None, Critical, Warning, Information };

// What a modal box asked the user; handed to a test responder instead of a real box.
struct Prompt
{
    enum class Kind { Message, Input, OpenFile, Dialog };
    Kind kind = Kind::Message;
    QString text; // message text, or the input box's prompt
    QString title; // window title; empty for the platform's default caption
    MsgIcon icon = MsgIcon::None;
    QString defaultText; // input box default, or the file dialog's starting file name
    QStringList filters; // file dialog filter entries, first one selected
    QDialog *dialog = nullptr; // a window's own modal dialog, shown while it is asked
};

// The answer given to a Prompt: for an input box or a file dialog, the text entered or
// the file chosen; no value means the user cancelled.
using Answer = std::optional<QString>;

// While a responder is installed every modal box goes to it instead of the screen:
// the tests answer boxes without a display and see exactly what the user would.
using Responder = std::function<Answer(const Prompt &)>;
void setResponder(Responder responder);
bool hasResponder();

// A modal message box with an OK button only. An empty title gives the platform's
// default caption (the application name).
void messageBox(QWidget *parent, const QString &text, MsgIcon icon = MsgIcon::None,
                const QString &title = AppTitle);

// A modal input box; returns no value when the user cancels.
Answer inputBox(QWidget *parent, const QString &prompt, const QString &title,
                const QString &defaultText);

// Runs a window's own dialog modally, as QDialog::exec() does. With a responder
// installed the dialog is shown modal, handed to the responder (which may inspect it
// and press its buttons) and then closed, unless the responder closed it already.
void execDialog(QDialog *dialog);

// A modal open-file dialog starting at startFile; the first filter is selected.
// Returns the absolute path of the chosen file, or no value when cancelled. Filters
// match file names in any letter case.
Answer openFileDialog(QWidget *parent, const QString &title, const QString &startFile,
                      const QStringList &filters);

// The dialog that openFileDialog shows, set up but not shown.
std::unique_ptr<QFileDialog> makeOpenFileDialog(QWidget *parent, const QString &title,
                                                const QString &startFile,
                                                const QStringList &filters);

// A window's own modal dialog. While a dialog hook is installed the dialog is handed
// to it instead of being shown: the hook sets it up as a user would and accepts or
// rejects it. Returns the dialog's result (QDialog::Accepted or Rejected).
using DialogHook = std::function<void(QDialog &)>;
void setDialogHook(DialogHook hook);
int execDialog(QDialog &dialog);

} // namespace tarvex::ui
