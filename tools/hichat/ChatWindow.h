#pragma once
// One conversation with one peer. The message input fills the lower left of
// the window, so a click 50 px inside its lower-left corner lands in it;
// Enter or Ctrl+Enter sends, Shift+Enter starts a new line. Closing the
// window (also by WM_DELETE_WINDOW) deletes it; the program keeps running.
#include <QPlainTextEdit>
#include <QWidget>

class QPushButton;

class CChatInput : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit CChatInput(QWidget* parent = nullptr);

Q_SIGNALS:
    void SendRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class CChatWindow : public QWidget
{
    Q_OBJECT
public:
    CChatWindow(const QString& sid, const QString& peer);

    QString Peer() const { return m_peer; }
    // The account of the latest link that opened or raised the window.
    void SetSid(const QString& sid);
    void Present();

Q_SIGNALS:
    void MessageSent(const QString& sid, const QString& peer, const QString& text);

private:
    void Send();

    QString m_sid;
    QString m_peer;
    QPlainTextEdit* m_history = nullptr;
    CChatInput* m_input = nullptr;
    QPushButton* m_send = nullptr;
};
