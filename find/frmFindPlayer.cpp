#include "find/frmFindPlayer.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvex {

namespace {
constexpr int MaxLines = 2000; // more lines than anyone reads; keeps each keystroke short
}

frmFindPlayer::frmFindPlayer(ServerSource servers, QWidget *parent)
    : frmFindPlayer(IndexSource([servers = std::move(servers)] {
                        return std::make_shared<const filter::PlayerIndex>(servers());
                    }),
                    parent)
{ }

frmFindPlayer::frmFindPlayer(IndexSource servers, QWidget *parent)
    : QDialog(parent),
      m_servers(std::move(servers)),
      m_text(new QLineEdit(this)),
      m_results(new QListWidget(this)),
      m_message(new QLabel(this))
{
    setWindowTitle(tr("Find Player"));
    setAccessibleName(tr("Find Player"));
    auto *label = new QLabel(tr("&Player name (/ starts a regular expression):"), this);
    label->setBuddy(m_text);
    m_text->setAccessibleName(tr("Player name"));
    m_results->setAccessibleName(tr("Players found"));
    m_message->setAccessibleName(tr("Search result"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->setAccessibleName(tr("Dialog buttons"));
    buttons->button(QDialogButtonBox::Close)->setAccessibleName(tr("Close"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_text);
    layout->addWidget(m_results, 1);
    layout->addWidget(m_message);
    layout->addWidget(buttons);
    resize(520, 380);

    connect(m_text, &QLineEdit::textChanged, this, &frmFindPlayer::search);
    // Enter in the field chooses the current line rather than closing the dialog.
    connect(m_text, &QLineEdit::returnPressed, this, [this] { choose(m_results->currentItem()); });
    connect(m_results, &QListWidget::itemActivated, this, &frmFindPlayer::choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void frmFindPlayer::search()
{
    m_results->clear();
    const filter::PlayerSearch search(m_text->text());
    if (!search.isValid()) {
        m_message->setText(search.errorMessage());
        return;
    }
    const std::shared_ptr<const filter::PlayerIndex> servers = m_servers();
    const QList<filter::PlayerMatch> found =
        servers ? search.run(*servers, MaxLines + 1) : QList<filter::PlayerMatch>();
    for (int i = 0; i < found.size() && i < MaxLines; ++i) {
        const filter::PlayerMatch &match = found[i];
        auto *item = new QListWidgetItem(
            tr("%1  on  %2  (%3)").arg(match.player, match.serverName, match.address), m_results);
        item->setData(Qt::UserRole, match.serverKey);
    }
    if (m_results->count() > 0)
        m_results->setCurrentRow(0);
    if (m_text->text().isEmpty())
        m_message->clear();
    else if (found.size() > MaxLines)
        m_message->setText(tr("More than %1 players found; showing the first %1.").arg(MaxLines));
    else
        m_message->setText(tr("%n player(s) found.", nullptr, int(found.size())));
}

void frmFindPlayer::choose(QListWidgetItem *item)
{
    if (!item)
        return;
    emit serverChosen(item->data(Qt::UserRole).toString());
}

} // namespace tarvex
