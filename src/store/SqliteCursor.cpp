#include "store/SqliteCursor.h"

#include <sqlite3.h>

#include <cmath>

namespace {

// The value type a declared column type stands for. Empty: no declared type (an
// expression), the value's own storage class decides.
EVarType TypeOfDeclared(const char* declared)
{
    if (!declared)
        return EVarType::Empty;
    QString name = QString::fromUtf8(declared).trimmed().toUpper();
    const qsizetype paren = name.indexOf(QLatin1Char('('));
    if (paren >= 0)
        name = name.left(paren).trimmed();
    struct CNamedType
    {
        EVarType type;
        const char* names[6];
    };
    // Jet's names and SQLite's.
    static const CNamedType kTypes[] = {
        {EVarType::I4, {"AUTONUMBER", "COUNTER", "LONG", "INTEGER", "INT"}},
        {EVarType::I2, {"SHORT", "SMALLINT"}},
        {EVarType::UI1, {"BYTE", "TINYINT"}},
        {EVarType::Bool, {"YESNO", "YES/NO", "BIT", "BOOLEAN", "BOOL", "LOGICAL"}},
        {EVarType::Date, {"DATETIME", "DATE/TIME", "DATE", "TIME", "TIMESTAMP"}},
        {EVarType::BStr, {"TEXT", "MEMO", "CHAR", "VARCHAR", "NVARCHAR", "STRING"}},
        {EVarType::R4, {"SINGLE", "REAL"}},
        {EVarType::R8, {"DOUBLE", "FLOAT"}},
        {EVarType::Currency, {"CURRENCY", "MONEY"}},
        {EVarType::Decimal, {"DECIMAL", "NUMERIC"}},
        {EVarType::Blob, {"BLOB", "BINARY", "LONGBINARY", "OLEOBJECT"}},
    };
    for (const CNamedType& entry : kTypes) {
        for (const char* typeName : entry.names) {
            if (typeName && name == QLatin1String(typeName))
                return entry.type;
        }
    }
    if (name.contains(QLatin1String("INT")))
        return EVarType::I4;
    if (name.contains(QLatin1String("CHAR")) || name.contains(QLatin1String("TEXT")))
        return EVarType::BStr;
    return EVarType::Empty;
}

QString ColumnText(sqlite3_stmt* stmt, int position)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, position));
    return QString::fromUtf8(text, sqlite3_column_bytes(stmt, position));
}

bool TextIsTrue(const QString& text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
        t.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 ||
        t.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double number = t.toDouble(&ok);
    return ok && number != 0;
}

CVariant ReadValue(sqlite3_stmt* stmt, int position, EVarType declared)
{
    CVariant value;
    const int storage = sqlite3_column_type(stmt, position);
    if (storage == SQLITE_NULL) {
        value.type = EVarType::Null;
        return value;
    }
    if (storage == SQLITE_BLOB && declared != EVarType::Blob) {
        value.type = EVarType::Blob;
        value.bytes = QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, position)),
                                 sqlite3_column_bytes(stmt, position));
        return value;
    }
    value.type = declared;
    switch (declared) {
    case EVarType::I4:
    case EVarType::I2:
    case EVarType::UI1:
        value.integer = sqlite3_column_int64(stmt, position);
        break;
    case EVarType::Bool:
        if (storage == SQLITE_TEXT)
            value.integer = TextIsTrue(ColumnText(stmt, position)) ? -1 : 0;
        else
            value.integer = sqlite3_column_double(stmt, position) != 0 ? -1 : 0;
        break;
    case EVarType::Date:
        if (storage == SQLITE_TEXT) {
            value.text = ColumnText(stmt, position);
            // Text that is no date reads as it was written.
            if (!DateFromText(value.text, value.real))
                value.type = EVarType::BStr;
            else
                value.text.clear();
        } else {
            value.real = sqlite3_column_double(stmt, position);
        }
        break;
    case EVarType::BStr:
        value.text = ColumnText(stmt, position);
        break;
    case EVarType::R4:
    case EVarType::R8:
    case EVarType::Decimal:
        value.real = sqlite3_column_double(stmt, position);
        break;
    case EVarType::Currency:
        value.integer = std::llround(sqlite3_column_double(stmt, position) * 10000.0);
        break;
    case EVarType::Blob:
        value.bytes = QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, position)),
                                 sqlite3_column_bytes(stmt, position));
        break;
    default:
        // No declared type: the storage class decides; 32-bit values read as the store's Long.
        if (storage == SQLITE_INTEGER) {
            value.integer = sqlite3_column_int64(stmt, position);
            value.type = value.integer == qint64(qint32(value.integer)) ? EVarType::I4 : EVarType::I8;
        } else if (storage == SQLITE_FLOAT) {
            value.type = EVarType::R8;
            value.real = sqlite3_column_double(stmt, position);
        } else {
            value.type = EVarType::BStr;
            value.text = ColumnText(stmt, position);
        }
        break;
    }
    return value;
}

bool IsDigitAt(const char* text, int i)
{
    return text[i] >= '0' && text[i] <= '9';
}

// "YYYY-MM-DD HH:MM:SS": read as a date and written back it is the same text,
// and text of that shape that is no date reads as it was written.
bool HasStoredDateShape(const char* text, int size)
{
    if (size != 19)
        return false;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) {
        if (!IsDigitAt(text, i))
            return false;
    }
    return text[4] == '-' && text[7] == '-' && text[10] == ' ' && text[13] == ':' && text[16] == ':';
}

bool IsValidUtf8(const char* text, int size)
{
    return QUtf8StringView(text, size).isValidUtf8();
}

} // namespace

CDbMutexLock::CDbMutexLock(sqlite3* db) : m_mutex(db ? sqlite3_db_mutex(db) : nullptr)
{
    if (m_mutex)
        sqlite3_mutex_enter(m_mutex);
}

CDbMutexLock::~CDbMutexLock()
{
    if (m_mutex)
        sqlite3_mutex_leave(m_mutex);
}

CSqliteCursor::CSqliteCursor(sqlite3_stmt* stmt, bool hasRow) : m_stmt(stmt), m_end(!hasRow)
{
    const int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
        m_names.append(QString::fromUtf8(sqlite3_column_name(stmt, i)));
        m_types.append(TypeOfDeclared(sqlite3_column_decltype(stmt, i)));
    }
}

CSqliteCursor::~CSqliteCursor()
{
    sqlite3_finalize(m_stmt);
}

bool CSqliteCursor::Next()
{
    if (m_end)
        return false;
    int rc;
    {
        // The step and the reading of its result belong together.
        CDbMutexLock lock(sqlite3_db_handle(m_stmt));
        rc = sqlite3_step(m_stmt);
    }
    if (rc == SQLITE_ROW)
        return true;
    m_end = true;
    return rc == SQLITE_DONE;
}

CVariant CSqliteCursor::Value(int position) const
{
    return ReadValue(m_stmt, position, m_types[position]);
}

void CSqliteCursor::RowUtf8(const QList<int>& positions, std::vector<QByteArray>& scratch, std::string_view* out)
{
    // Serialised connection: every column call would take the lock on its own.
    CDbMutexLock lock(sqlite3_db_handle(m_stmt));
    for (qsizetype i = 0; i < positions.size(); ++i) {
        const int position = positions[i];
        out[i] = {};
        if (position < 0 || position >= m_types.size())
            continue;
        const EVarType declared = m_types[position];
        const int storage = sqlite3_column_type(m_stmt, position);
        if (storage == SQLITE_TEXT &&
            (declared == EVarType::BStr || declared == EVarType::Empty || declared == EVarType::Date)) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, position));
            const int size = sqlite3_column_bytes(m_stmt, position);
            if (IsValidUtf8(text, size) && (declared != EVarType::Date || HasStoredDateShape(text, size))) {
                out[i] = std::string_view(text, size_t(size));
                continue;
            }
        }
        QByteArray& converted = scratch[size_t(i)];
        if (storage == SQLITE_INTEGER && (declared == EVarType::I4 || declared == EVarType::Empty))
            converted.setNum(static_cast<qint32>(static_cast<quint32>(sqlite3_column_int64(m_stmt, position))));
        else
            converted = VariantToText(ReadValue(m_stmt, position, declared)).toUtf8();
        out[i] = std::string_view(converted.constData(), size_t(converted.size()));
    }
}
