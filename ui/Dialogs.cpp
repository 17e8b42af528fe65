#include "ui/Dialogs.h"

#include <QDialog>

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>

namespace tarvex::ui {

namespace {
Responder &responder()
{
    static Responder r;
    return r;
}
} // namespace

void setResponder(Responder r) { responder() = std::move(r); }

namespace {
DialogHook &dialogHook()
{
    static DialogHook h;
    return h;
}
} // namespace

void setDialogHook(DialogHook hook) { dialogHook() = std::move(hook); }

int execDialog(QDialog &dialog)
{
    if (dialogHook()) {
        dialogHook()(dialog);
        return dialog.result();
    }
    return dialog.exec();
}
bool hasResponder() { return bool(responder()); }

void messageBox(QWidget *parent, const QString &text, MsgIcon icon, const QString &title)
{
    if (responder()) {
        responder()(Prompt{Prompt::Kind::Message, text, title, icon, {}, {}});
        return;
    }
    QMessageBox box(parent);
    box.setWindowTitle(title.isEmpty() ? QStringLiteral("Tarvex") : title);
    // Texts carry what came from the network or the user (addresses, error texts):
    // never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

Answer inputBox(QWidget *parent, const QString &prompt, const QString &title,
                const QString &defaultText)
{
    if (responder())
        return responder()(
            Prompt{Prompt::Kind::Input, prompt, title, MsgIcon::None, defaultText, {}});
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

void execDialog(QDialog *dialog)
{
    if (!responder()) {
        dialog->exec();
        return;
    }
    const QPointer<QDialog> shown(dialog);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    Prompt prompt;
    prompt.kind = Prompt::Kind::Dialog;
    prompt.title = dialog->windowTitle();
    prompt.dialog = dialog;
    responder()(prompt);
    if (shown && shown->isVisible())
        shown->close();
}

Answer openFileDialog(QWidget *parent, const QString &title, const QString &startFile,
                      const QStringList &filters)
{
    if (responder())
        return responder()(
            Prompt{Prompt::Kind::OpenFile, {}, title, MsgIcon::None, startFile, filters});
    const auto dialog = makeOpenFileDialog(parent, title, startFile, filters);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().first();
}

std::unique_ptr<QFileDialog> makeOpenFileDialog(QWidget *parent, const QString &title,
                                                const QString &startFile,
                                                const QStringList &filters)
{
    auto dialog = std::make_unique<QFileDialog>(parent, title);
    // Qt's own dialog matches name filters in any letter case on every desktop; the
    // desktops' native dialogs do not, and the game's file is spelt many ways.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters(filters);
    if (!filters.isEmpty())
        dialog->selectNameFilter(filters.first());
    dialog->selectFile(startFile);
    return dialog;
}

} // namespace tarvex::ui
