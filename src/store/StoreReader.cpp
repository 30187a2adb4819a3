#include "store/StoreReader.h"

#include "platform/AbortScope.h"
#include "platform/Log.h"

#include <QFileInfo>

#include <sqlite3.h>

namespace {

// Virtual-machine steps between two looks at the stop flag (well under a millisecond).
constexpr int kStepsBetweenChecks = 10000;

int StopRequested(void*)
{
    return AbortRequested() ? 1 : 0;
}

} // namespace

CStoreReader::CStoreReader()
{
    CAdoConnection* shared = g_pConnection;
    // The team store's server gives every thread a session of its own already.
    if (!shared || !shared->IsOpen() || shared->IsTeamStore())
        return;
    const QString connectionString = shared->ConnectionString();
    // Only a file that is there: a reader never makes a store.
    if (!QFileInfo(CAdoConnection::DataSourceOf(connectionString)).isFile())
        return;
    if (!m_own.Open(connectionString)) {
        qCWarning(LogStore) << "no reading connection of its own; the shared one reads instead";
        return;
    }
    sqlite3_progress_handler(m_own.Handle(), kStepsBetweenChecks, &StopRequested, nullptr);
}
