#include "ChatWindow.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

CChatInput::CChatInput(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("messageInputEdit"));
    setTabChangesFocus(true);
}

void CChatInput::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !(event->modifiers() & Qt::ShiftModifier)) {
        Q_EMIT SendRequested();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

CChatWindow::CChatWindow(const QString& sid, const QString& peer) : m_sid(sid), m_peer(peer)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("chatWindow"));
    setWindowTitle(QStringLiteral("%1 - hichat").arg(peer));
    resize(480, 380);

    auto* peerLabel = new QLabel(QStringLiteral("与 %1 聊天").arg(peer), this);
    peerLabel->setObjectName(QStringLiteral("peerLabel"));
    // The peer is a visitor's own name: text, never markup.
    peerLabel->setTextFormat(Qt::PlainText);
    m_history = new QPlainTextEdit(this);
    m_history->setObjectName(QStringLiteral("historyView"));
    m_history->setReadOnly(true);
    m_input = new CChatInput(this);
    m_input->setFixedHeight(130);
    m_send = new QPushButton(QStringLiteral("发送"), this);
    m_send->setObjectName(QStringLiteral("sendButton"));

    // Input at the bottom left, the button beside it on the right.
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addWidget(m_input, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_send);
    bottom->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(peerLabel);
    layout->addWidget(m_history, 1);
    layout->addLayout(bottom);

    connect(m_input, &CChatInput::SendRequested, this, &CChatWindow::Send);
    connect(m_send, &QPushButton::clicked, this, &CChatWindow::Send);
}

void CChatWindow::SetSid(const QString& sid)
{
    m_sid = sid;
}

void CChatWindow::Present()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void CChatWindow::Send()
{
    const QString text = m_input->toPlainText();
    // An empty input sends nothing: Ctrl+Enter and a following Enter send one message.
    if (text.isEmpty())
        return;
    m_input->clear();
    m_history->appendPlainText(
        QStringLiteral("%1 %2:\n%3").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), m_sid, text));
    Q_EMIT MessageSent(m_sid, m_peer, text);
}
