#include "greet/ImClient.h"

namespace {

thread_local EGreetReason t_reason = EGreetReason::Sent;

} // namespace

EGreetReason LastGreetReason()
{
    return t_reason;
}

void SetLastGreetReason(EGreetReason reason)
{
    t_reason = reason;
}

QString GreetReasonText(EGreetReason reason)
{
    switch (reason) {
    case EGreetReason::Sent:
        return QString();
    case EGreetReason::NoWindow:
        return QStringLiteral("没有找到聊天窗口");
    case EGreetReason::SeveralWindows:
        return QStringLiteral("有多个同名聊天窗口");
    case EGreetReason::FocusLost:
        return QStringLiteral("聊天窗口失去焦点");
    case EGreetReason::Grab:
        return QStringLiteral("键盘被其他程序占用");
    case EGreetReason::Dropped:
        return QStringLiteral("30分钟内未能发送");
    case EGreetReason::Failed:
        break;
    }
    return QStringLiteral("发送失败");
}
