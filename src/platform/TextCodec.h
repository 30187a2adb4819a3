#pragma once
// Conversions between the program's UTF-16 text and the byte encodings of
// the outside world: the "ANSI" code page (replies, QQWry.Dat strings) and
// the "OEM" code page (query values). Both default to GBK. Thread-safe: every
// call opens its own iconv descriptor.
#include <QByteArray>
#include <QString>

// Code page name used for both conversions ("GBK" unless the settings file
// says otherwise). A name iconv does not know gives GBK and false: without a
// converter every reply and query value would come out empty.
bool SetCodePage(const QByteArray& name);
QByteArray CodePage();
// The unknown name of the last SetCodePage that fell back to GBK, else empty.
QByteArray UnknownCodePage();

// The status text that says so.
QString CodePageFallbackText(const QByteArray& unknown);

// Decodes up to the first zero byte; invalid sequences are dropped, never fatal.
QString AnsiToUnicode(const QByteArray& bytes);
QString AnsiToUnicode(const char* data, qsizetype size);
QByteArray UnicodeToAnsi(const QString& text);
// Characters the code page cannot hold are dropped.
QByteArray UnicodeToOem(const QString& text);
QString OemToUnicode(const QByteArray& bytes);

// Cuts encoded text at a character boundary so that it fits in maxBytes.
QByteArray UnicodeToOemLimited(const QString& text, qsizetype maxBytes);
