#pragma once
// The value types a column fetch can yield, named as the original store named
// them, and the two conversion rules every reader relies on.
#include <QByteArray>
#include <QString>

enum class EVarType
{
    Empty,
    Null,
    I2,
    UI2,
    I1,
    UI1,
    I4,
    UI4,
    Int,
    UInt,
    I8,
    UI8,
    R4,
    R8,
    Decimal,
    Currency,
    Date,
    BStr,
    LPStr,
    LPWStr,
    Bool,
    Void,
    Blob,
    BlobObject,
    ArrayUI1,
    Other
};

struct CVariant
{
    EVarType type = EVarType::Empty;
    qint64 integer = 0; // every integer type, Bool (0 or -1), Void, Currency (in 1/10000)
    double real = 0;    // R4, R8, Decimal, Date (days since 1899-12-30)
    QString text;       // BStr, LPStr, LPWStr
    QByteArray bytes;   // Blob, BlobObject, ArrayUI1
};

QString VariantToText(const CVariant& value);
// The types whose value is CVariant::integer as a whole number (not Bool, Currency or Void).
bool IsIntegerType(EVarType type);
int VariantToInt(const CVariant& value);
// "%Y-%m-%d %H:%M:%S" of a date value, or "Invalid DateTime".
QString FormatDateTime(double date);
// The store's text form of a moment given in milliseconds since the epoch, in
// local time ("yyyy-MM-dd HH:mm:ss"), as visits and greetings are stamped.
QString StoreTimeText(qint64 ms);
// Reads "YYYY-MM-DD[ HH:MM[:SS]]" (the form the store keeps dates in) as a date value.
bool DateFromText(const QString& text, double& date);
CVariant MakeDate(double date);
