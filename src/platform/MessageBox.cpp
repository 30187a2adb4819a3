#include "platform/MessageBox.h"

#include <QDebug>

#include <mutex>

namespace {

std::mutex g_handlerMutex;
MessageBoxHandler g_handler;

} // namespace

int ShowMessageBox(const QString& text, const QString& caption, EMsgIcon icon, EMsgButtons buttons)
{
    MessageBoxHandler handler;
    {
        std::lock_guard lock(g_handlerMutex);
        handler = g_handler;
    }
    if (handler)
        return handler(text, caption, icon, buttons);
    qWarning().noquote() << caption << ":" << text;
    return buttons == EMsgButtons::YesNo ? kIdNo : kIdOk;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard lock(g_handlerMutex);
    std::swap(g_handler, handler);
    return handler;
}

QString AppTitle()
{
    return QStringLiteral("Lumo网店助手-Vexa来客提醒");
}

QString WorkerCaption()
{
    return QStringLiteral("Lumo助手");
}
