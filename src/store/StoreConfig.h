#pragma once
// Which store the program uses, from [store] in mirelhelper.ini (data directory):
// backend=sqlite (Info.mdb, the default) or backend=postgresql with url= (a libpq
// connection string or URI) and machine= (this machine's name, default the host name).
#include <QString>

struct CStoreConfig
{
    bool team = false;
    QString url;
    QString machine;
};

CStoreConfig ReadStoreConfig(const QString& dataDir);
