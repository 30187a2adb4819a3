#pragma once
// Whether a new visitor's greeting is queued, under the owner's daily budget
// per shop and the one-greeting-per-person rule; both count the greetings
// that went out ([greetlog] rows with [ok]) and those still queued. With both
// switches off every greeting is queued, without reading the store. Used by
// the monitoring thread; one process-wide instance (GreetingPolicy()) that
// remembers which shop's over-budget notice was shown today. Thread-safe.
#include "accounts/AdvancedSettings.h"

#include <QHash>
#include <QString>

#include <mutex>

enum class EGreetVerdict
{
    Queue,
    OverBudget,
    GreetedRecently,
    // The store could not answer: nothing is queued rather than risk too many.
    Unknown,
};

class CGreetingPolicy
{
public:
    EGreetVerdict Judge(const CAdvancedSettings& settings, qint64 nowMs, const QString& shop, const QString& visitor);
    // The status text for a shop over its budget: once per shop and day, empty otherwise.
    QString TakeBudgetNotice(const CAdvancedSettings& settings, qint64 nowMs, const QString& shop);

    static QString BudgetNoticeText(const QString& shop, int budget);

private:
    std::mutex m_mutex;
    // Shop -> the day ("yyyy-MM-dd") its notice was shown.
    QHash<QString, QString> m_noticeDay;
};

CGreetingPolicy& GreetingPolicy();
