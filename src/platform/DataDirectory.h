#pragma once
// Where the program keeps Info.mdb, QQWry.Dat and mirelhelper.ini:
// MIRELHELP_HOME when set, else the program's own directory
// when writable, else ~/.local/share/mirelhelper. Created on first use.
#include <QString>

QString DataDirectory();
// Overrides the directory for this process (tests, command line).
void SetDataDirectory(const QString& dir);
QString DataFilePath(const QString& fileName);
// The QQWry.Dat to read: the data directory's, else the copy installed or built with the program.
QString IpDataFilePath();
