#pragma once
// Service addresses and a few machine settings from mirelhelper.ini in the
// data directory. Loaded once at start-up (written with defaults when
// missing); read-only afterwards, so any thread may read it.
#include <QString>

struct CEndpoints
{
    QString trackingBase = QStringLiteral("http://127.0.0.1:8780");
    QString imProfileBase = QStringLiteral("http://127.0.0.1:8781");
    QString imPortraitBase = QStringLiteral("http://127.0.0.1:8781");
    QString imPresenceBase = QStringLiteral("http://127.0.0.1:8781");
    QString imMessagePage = QStringLiteral("http://127.0.0.1:8781/msg");
    QString imImageBase = QStringLiteral("http://127.0.0.1:8781");
    QString makerSite = QStringLiteral("http://127.0.0.1:8780/");
    QString soundDevice = QStringLiteral("default");
    QString codePage = QStringLiteral("GBK");
};

// Reads <dir>/mirelhelper.ini, writing the defaults for missing keys, and makes it current.
// Also applies the code page to the text codec.
CEndpoints LoadEndpoints(const QString& dir);
const CEndpoints& Endpoints();
// Replaces the current values (tests).
void SetEndpoints(const CEndpoints& endpoints);
