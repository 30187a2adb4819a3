#include "accounts/AccountStateCheck.h"

#include "net/AbortScope.h"
#include "net/TrackingService.h"
#include "platform/Workers.h"

void CAccountStateCheckThread::run()
{
    CWorkerScope scope(this, &m_stop);
    CAbortScope abort(&m_stop);
    try {
        CheckAccountStates();
    } catch (...) {
        // The check only ever warns; a failure means no warning.
    }
}
