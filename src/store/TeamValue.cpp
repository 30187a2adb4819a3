#include "store/TeamValue.h"

#include <libpq-fe.h>

namespace {

// Built-in type ids (pg_type.h); stable across servers.
constexpr Oid kBoolOid = 16;
constexpr Oid kByteaOid = 17;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kOidOid = 26;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;

QString FieldText(const PGresult* result, int row, int column)
{
    return QString::fromUtf8(PQgetvalue(result, row, column), PQgetlength(result, row, column));
}

void SetInteger(CVariant& value, qint64 number)
{
    // 32-bit values read as the store's Long, as SQLite's integers do.
    value.integer = number;
    value.type = number == qint64(qint32(number)) ? EVarType::I4 : EVarType::I8;
}

CVariant ByValue(const PGresult* result, int row, int column)
{
    CVariant value;
    const QByteArray raw(PQgetvalue(result, row, column), PQgetlength(result, row, column));
    switch (PQftype(result, column)) {
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid:
    case kOidOid:
        SetInteger(value, raw.toLongLong());
        break;
    case kBoolOid:
        // SQLite has no truth values: a comparison yields 1 or 0.
        SetInteger(value, raw == "t" ? 1 : 0);
        break;
    case kNumericOid: {
        // A sum of integers is an integer on SQLite.
        bool whole = false;
        const qint64 number = raw.toLongLong(&whole);
        if (whole) {
            SetInteger(value, number);
            break;
        }
        value.type = EVarType::R8;
        value.real = raw.toDouble();
        break;
    }
    case kFloat4Oid:
    case kFloat8Oid:
        value.type = EVarType::R8;
        value.real = raw.toDouble();
        break;
    case kByteaOid: {
        size_t size = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(raw.constData()), &size);
        value.type = EVarType::Blob;
        value.bytes = QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(size));
        PQfreemem(bytes);
        break;
    }
    default:
        value.type = EVarType::BStr;
        value.text = QString::fromUtf8(raw);
        break;
    }
    return value;
}

} // namespace

CVariant ReadTeamValue(const PGresult* result, int row, int column, EVarType declared)
{
    CVariant value;
    if (PQgetisnull(result, row, column)) {
        value.type = EVarType::Null;
        return value;
    }
    switch (declared) {
    case EVarType::I4:
        value.type = EVarType::I4;
        value.integer = QByteArray(PQgetvalue(result, row, column)).toLongLong();
        return value;
    case EVarType::Bool:
        value.type = EVarType::Bool;
        value.integer = QByteArray(PQgetvalue(result, row, column)).toLongLong() != 0 ? -1 : 0;
        return value;
    case EVarType::Date:
        value.text = FieldText(result, row, column);
        // Text that is no date reads as it was written.
        if (DateFromText(value.text, value.real)) {
            value.type = EVarType::Date;
            value.text.clear();
        } else {
            value.type = EVarType::BStr;
        }
        return value;
    case EVarType::BStr:
        value.type = EVarType::BStr;
        value.text = FieldText(result, row, column);
        return value;
    default:
        return ByValue(result, row, column);
    }
}

bool TeamTextIsValueText(const PGresult* result, int row, int column, EVarType declared)
{
    if (PQgetisnull(result, row, column))
        return false;
    if (declared == EVarType::BStr)
        return true;
    if (declared != EVarType::Empty)
        return false;
    switch (PQftype(result, column)) {
    case kBoolOid:
    case kByteaOid:
    case kNumericOid:
    case kFloat4Oid:
    case kFloat8Oid:
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid:
    case kOidOid:
        return false;
    default:
        return true;
    }
}
