#pragma once
// Percent-encoding of query values and its reverse. Pure functions.
#include <QByteArray>
#include <QString>

struct CURLEncode
{
    // Every byte below 0x21 or above 0x7A and the reserved bytes
    // ! " # $ % & + , / : ; < = > ? @ [ \ ] ^ ` become %XX (upper-case hex);
    // all other bytes stay as they are.
    static QString Encode(const QByteArray& bytes);
    // ANSI bytes of the text; each "%" followed by two hex digits becomes that
    // byte, everything else is copied; decoded back from the ANSI code page.
    static QString Decode(const QString& text);
    // The byte-level step of Decode.
    static QByteArray DecodeBytes(const QByteArray& bytes);
};
