#include "accounts/ui/UpDownCtrl.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

CUpDownCtrl::CUpDownCtrl(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto makeArrow = [this, layout](Qt::ArrowType arrow, const QString& name, int delta) {
        auto* button = new QToolButton(this);
        button->setObjectName(name);
        button->setArrowType(arrow);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(18, 11);
        layout->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, delta] { Step(delta); });
        return button;
    };
    m_up = makeArrow(Qt::UpArrow, QStringLiteral("upButton"), 1);
    m_down = makeArrow(Qt::DownArrow, QStringLiteral("downButton"), -1);
}

void CUpDownCtrl::SetRange(int lower, int upper)
{
    m_lower = qMin(lower, upper);
    m_upper = qMax(lower, upper);
    m_pos = qBound(m_lower, m_pos, m_upper);
}

void CUpDownCtrl::SetPos(int pos)
{
    m_pos = qBound(m_lower, pos, m_upper);
}

void CUpDownCtrl::Step(int delta)
{
    // The change is fixed before the owner hears of it; whatever the owner
    // does to the position meanwhile, the step lands where it was announced.
    const int target = m_pos + delta;
    Q_EMIT DeltaPos(m_pos, delta);
    SetPos(target);
}

void CUpDownCtrl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Up) {
        Step(1);
        return;
    }
    if (event->key() == Qt::Key_Down) {
        Step(-1);
        return;
    }
    QWidget::keyPressEvent(event);
}
