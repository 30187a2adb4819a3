#pragma once
// Pages and dialogs where Enter and Esc must not press a default button or
// close anything: their key handler calls this first.
#include <QKeyEvent>

// True (and the event accepted) for Enter, Return and Esc.
inline bool SwallowEnterAndEscape(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return true;
    default:
        return false;
    }
}
