#pragma once
// The visits ([client]): the one place that reads and writes the table, on the
// local store and on the team store alike, so no caller knows which it is.

class CVisitTable
{
public:
    // Recording a visit (the monitoring's road): VisitRecording.cpp.

    // Browsing, searching, deleting and ranking (history, lists, statistics): VisitTable.cpp.
};
