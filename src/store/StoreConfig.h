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

// The url as messages, the log and the console show it: libpq's settings one by one, without
// the ones that may hold a password (password, sslpassword, options).
QString TeamUrlForDisplay(const QString& url);
