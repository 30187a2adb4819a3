#pragma once
// The transient status-bar text: Post stores the text and arms the show timer
// (1001, 100 ms); when it fires the text is shown and the clear timer (1002,
// 10 s) is armed; when that fires the text and the pane are cleared. A new
// text restarts the cycle. Post may be called from any thread; the timers
// and the Display signal belong to the thread owning the object (the window's).
#include <QObject>
#include <QString>
#include <QTimer>

#include <mutex>

class CStatusMessage : public QObject
{
    Q_OBJECT
public:
    static constexpr int kShowTimerId = 1001;
    static constexpr int kClearTimerId = 1002;
    static constexpr int kShowDelayMs = 100;
    static constexpr int kClearDelayMs = 10000;

    explicit CStatusMessage(QObject* parent = nullptr);

    void Post(const QString& text);
    QString Pending() const;
    // What the pane shows now.
    QString Shown() const { return m_shown; }

    // Tests run the cycle faster.
    void SetIntervals(int showMs, int clearMs);
    QTimer& ShowTimer() { return m_showTimer; }
    QTimer& ClearTimer() { return m_clearTimer; }
    // What each timer does when it fires.
    void OnTimer(int id);

Q_SIGNALS:
    // Text for the pane; empty clears it.
    void Display(const QString& text);

private:
    void ArmShow();

    mutable std::mutex m_mutex;
    QString m_pending;
    QString m_shown;
    QTimer m_showTimer;
    QTimer m_clearTimer;
};
