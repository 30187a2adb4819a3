#pragma once
// Which alerts a poll raises once the owner's advanced settings are applied:
// quiet hours hold alerts back (and sum them up when they end), a burst of new
// visitors becomes one balloon, watched visitors always alert. With every
// setting off the poll's own alert passes through unchanged. Used by the
// monitoring thread; one process-wide instance (AlertPolicy()) so the quiet
// hours' count survives monitoring restarts. Thread-safe.
#include "accounts/AdvancedSettings.h"

#include <QString>
#include <QStringList>

#include <mutex>
#include <vector>

struct COwnerAlert
{
    QString text;
    // Whom a click on the alert opens a chat with; empty visitor: the main window.
    QString shop;
    QString visitor;
    bool operator==(const COwnerAlert&) const = default;
};

class CAlertPolicy
{
public:
    // A poll with this many new visitors of a shop is a burst.
    static constexpr int kBurstThreshold = 4;
    // Names a burst balloon shows.
    static constexpr int kBurstNamesShown = 3;

    static bool InQuietHours(const CAdvancedSettings& settings, qint64 nowMs);

    // The alerts for one poll's new named visitors (page order). ordinary is
    // the alert the poll raises without these settings (naming firstName),
    // empty when its switch is off.
    std::vector<COwnerAlert> ForNewVisitors(const CAdvancedSettings& settings, qint64 nowMs, const QString& shop,
                                            const QStringList& newNames, const QString& firstName,
                                            const QString& ordinary);
    // Whether an anonymous visitor's alert goes out; one held back is counted.
    bool AllowGuestAlert(const CAdvancedSettings& settings, qint64 nowMs);
    // The sum-up once quiet hours are over and something was held back, else empty. Called at every poll.
    QString TakeQuietSummary(const CAdvancedSettings& settings, qint64 nowMs);

    static QString QuietSummaryText(int visitors);

private:
    void NoteQuiet(bool quiet);

    std::mutex m_mutex;
    int m_held = 0;
    bool m_wasQuiet = false;
};

CAlertPolicy& AlertPolicy();
