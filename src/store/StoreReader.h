#pragma once
// A connection of its own to the store g_pConnection has open, for one long
// job of a worker thread (grouped reads over the whole history, index
// builds): its statements neither queue behind the workers' shared handle
// nor hold it up, and they fail soon after the thread's stop flag
// (CAbortScope) is raised. Where no connection of its own can be opened it
// stands for g_pConnection. Lives on the stack of the thread that uses it.
#include "store/AdoConnection.h"

class CStoreReader
{
public:
    CStoreReader();
    CStoreReader(const CStoreReader&) = delete;
    CStoreReader& operator=(const CStoreReader&) = delete;

    CAdoConnection* Connection() { return m_own.IsOpen() ? &m_own : g_pConnection; }

private:
    CAdoConnection m_own;
};
