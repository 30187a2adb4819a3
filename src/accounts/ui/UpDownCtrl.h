#pragma once
// A bare pair of up and down arrows with a range and a position, not tied to
// any edit: its owner keeps the edit in step. Each step first announces the
// position and the proposed change (DeltaPos), then applies it within range.
// The arrow keys step it when it has focus.
#include <QWidget>

class QToolButton;

class CUpDownCtrl : public QWidget
{
    Q_OBJECT
public:
    explicit CUpDownCtrl(QWidget* parent = nullptr);

    void SetRange(int lower, int upper);
    int GetLower() const { return m_lower; }
    int GetUpper() const { return m_upper; }
    // Kept within the range.
    void SetPos(int pos);
    int GetPos() const { return m_pos; }

    // One step: +1 up, -1 down.
    void Step(int delta);

Q_SIGNALS:
    // Before the change; pos is the position the change starts from.
    void DeltaPos(int pos, int delta);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int m_lower = 0;
    int m_upper = 100;
    int m_pos = 0;
    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
};
