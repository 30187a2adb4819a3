#include "greet/ImClient.h"

#include "platform/XWindows.h"

#include <algorithm>
#include <set>

using namespace MirelX;

namespace {

const QString kChatWindowClass = QStringLiteral("BaseGui");

bool IsWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c.isMark();
}

// The windows above w in a top-first list; empty when w is not in it.
std::set<unsigned long> WindowsAbove(const std::vector<unsigned long>& order, unsigned long w)
{
    const auto at = std::find(order.begin(), order.end(), w);
    if (at == order.end())
        return {};
    return std::set<unsigned long>(order.begin(), at);
}

unsigned long FocusedTopWindow(_XDisplay* d, const std::vector<CTaskManage>& list)
{
    for (const CTaskManage& task : list) {
        if (FocusWithin(d, task.m_window))
            return task.m_window;
    }
    return 0;
}

} // namespace

bool TitleNamesVisitor(const QString& title, const QString& visitor)
{
    if (visitor.isEmpty())
        return false;
    // As a whole word: "李" is not in "李四 - hichat", nor "访客甲" in "与访客甲聊天".
    for (qsizetype at = title.indexOf(visitor); at >= 0; at = title.indexOf(visitor, at + 1)) {
        const qsizetype end = at + visitor.size();
        const bool startsWord = at == 0 || !IsWordCharacter(title.at(at - 1));
        const bool endsWord = end == title.size() || !IsWordCharacter(title.at(end));
        if (startsWord && endsWord)
            return true;
    }
    return false;
}

unsigned long FindChatWindow(_XDisplay* d, const QString& visitor, int* candidates)
{
    std::vector<CTaskManage> list;
    EnumTopWindows(d, list);
    unsigned long found = 0;
    int count = 0;
    for (const CTaskManage& task : list) {
        if (task.m_className == kChatWindowClass && TitleNamesVisitor(task.m_title, visitor)) {
            found = task.m_window;
            ++count;
        }
    }
    if (candidates)
        *candidates = count;
    return count == 1 ? found : 0;
}

CTopWindowSnapshot SnapshotTopWindows(_XDisplay* d)
{
    CTopWindowSnapshot snapshot;
    std::vector<CTaskManage> list;
    EnumTopWindows(d, list);
    for (const CTaskManage& task : list) {
        snapshot.order.push_back(task.m_window);
        if (IsMappedViewable(d, task.m_window))
            snapshot.viewable.push_back(task.m_window);
    }
    snapshot.focused = FocusedTopWindow(d, list);
    return snapshot;
}

unsigned long FindChatWindowForLink(_XDisplay* d, const QString& visitor, const CTopWindowSnapshot& before,
                                    int* candidates)
{
    std::vector<CTaskManage> list;
    EnumTopWindows(d, list);
    std::vector<unsigned long> order;
    for (const CTaskManage& task : list)
        order.push_back(task.m_window);
    const unsigned long focused = FocusedTopWindow(d, list);
    const auto was = [](const std::vector<unsigned long>& items, unsigned long w) {
        return std::find(items.begin(), items.end(), w) != items.end();
    };
    unsigned long found = 0;
    int count = 0;
    for (const CTaskManage& task : list) {
        if (task.m_className != kChatWindowClass || !TitleNamesVisitor(task.m_title, visitor))
            continue;
        const unsigned long w = task.m_window;
        // On top now: raised for the link, or already where a raise would put it.
        bool touched = !was(before.order, w) || w == focused || (!order.empty() && order.front() == w) ||
                       (IsMappedViewable(d, w) && !was(before.viewable, w));
        if (!touched) {
            // Raised: a window that was above it is below it now.
            const std::set<unsigned long> aboveNow = WindowsAbove(order, w);
            for (unsigned long other : WindowsAbove(before.order, w))
                touched = touched || (was(order, other) && !aboveNow.count(other));
        }
        if (touched) {
            found = w;
            ++count;
        }
    }
    if (candidates)
        *candidates = count;
    return count == 1 ? found : 0;
}
