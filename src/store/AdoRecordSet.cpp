#include "store/AdoRecordSet.h"

#include "platform/MessageBox.h"
#include "store/AdoConnection.h"
#include "store/TeamSession.h"
#include "store/TeamValue.h"

#include <libpq-fe.h>
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
    struct CNamed
    {
        const char* name;
        EVarType type;
    };
    static const CNamed kNames[] = {
        {"AUTONUMBER", EVarType::I4},     {"COUNTER", EVarType::I4},     {"LONG", EVarType::I4},
        {"INTEGER", EVarType::I4},        {"INT", EVarType::I4},         {"SHORT", EVarType::I2},
        {"SMALLINT", EVarType::I2},       {"BYTE", EVarType::UI1},       {"TINYINT", EVarType::UI1},
        {"YESNO", EVarType::Bool},        {"YES/NO", EVarType::Bool},    {"BIT", EVarType::Bool},
        {"BOOLEAN", EVarType::Bool},      {"BOOL", EVarType::Bool},      {"LOGICAL", EVarType::Bool},
        {"DATETIME", EVarType::Date},     {"DATE/TIME", EVarType::Date}, {"DATE", EVarType::Date},
        {"TIME", EVarType::Date},         {"TIMESTAMP", EVarType::Date}, {"TEXT", EVarType::BStr},
        {"MEMO", EVarType::BStr},         {"CHAR", EVarType::BStr},      {"VARCHAR", EVarType::BStr},
        {"NVARCHAR", EVarType::BStr},     {"STRING", EVarType::BStr},    {"SINGLE", EVarType::R4},
        {"REAL", EVarType::R4},           {"DOUBLE", EVarType::R8},      {"FLOAT", EVarType::R8},
        {"CURRENCY", EVarType::Currency}, {"MONEY", EVarType::Currency}, {"DECIMAL", EVarType::Decimal},
        {"NUMERIC", EVarType::Decimal},   {"BLOB", EVarType::Blob},      {"BINARY", EVarType::Blob},
        {"LONGBINARY", EVarType::Blob},   {"OLEOBJECT", EVarType::Blob},
    };
    for (const CNamed& entry : kNames) {
        if (name == QLatin1String(entry.name))
            return entry.type;
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

CAdoRecordSet::CAdoRecordSet() : m_pConnection(g_pConnection) {}

CAdoRecordSet::CAdoRecordSet(CAdoConnection* connection) : m_pConnection(connection) {}

CAdoRecordSet::~CAdoRecordSet()
{
    Close();
}

QString CAdoRecordSet::DisconnectedText()
{
    return QStringLiteral("数据库可能已经断开,\r\n请重新连接、然后重试.");
}

bool CAdoRecordSet::Open(const QString& sql)
{
    if (!sql.isEmpty())
        m_sql = sql;
    Close();
    m_hasColumns = false;
    m_columnNames.clear();
    m_columnTypes.clear();
    m_failures = 0;
    if (!m_pConnection || m_sql.isEmpty())
        return false;
    if (m_pConnection->IsTeamStore())
        return OpenTeam();
    bool hasRow = false;
    sqlite3_stmt* stmt = m_pConnection->OpenQuery(m_sql, &hasRow);
    if (!stmt)
        return false;
    const int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
        m_columnNames.append(QString::fromUtf8(sqlite3_column_name(stmt, i)));
        m_columnTypes.append(TypeOfDeclared(sqlite3_column_decltype(stmt, i)));
    }
    m_hasColumns = true;
    m_stmt = stmt;
    m_eof = !hasRow;
    return true;
}

bool CAdoRecordSet::OpenTeam()
{
    std::unique_ptr<CTeamRows> rows = m_pConnection->OpenTeamRows(m_sql);
    if (!rows)
        return false;
    const PGresult* result = rows->Current();
    const int count = PQnfields(result);
    for (int i = 0; i < count; ++i) {
        m_columnNames.append(QString::fromUtf8(PQfname(result, i)));
        const Oid table = PQftable(result, i);
        m_columnTypes.append(table == InvalidOid ? EVarType::Empty
                                                 : m_pConnection->TeamDeclaredType(table, PQftablecol(result, i)));
    }
    m_hasColumns = true;
    m_eof = rows->AtEnd();
    m_rows = std::move(rows);
    return true;
}

void CAdoRecordSet::Close()
{
    if (m_stmt)
        sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_rows.reset();
    m_eof = true;
}

bool CAdoRecordSet::IsOpen() const
{
    return m_stmt != nullptr || m_rows != nullptr;
}

CVariant CAdoRecordSet::ValueAt(int position) const
{
    if (m_rows)
        return ReadTeamValue(m_rows->Current(), 0, position, m_columnTypes[position]);
    return ReadValue(m_stmt, position, m_columnTypes[position]);
}

bool CAdoRecordSet::IsEOF() const
{
    // A closed set, or one whose store failed while reading, is at its end: a reading
    // loop ends instead of asking again and again.
    return !IsOpen() || m_eof || m_failures > 0;
}

bool CAdoRecordSet::MoveNext()
{
    if (m_rows && !m_eof) {
        const bool read = m_rows->Next();
        m_eof = m_rows->AtEnd();
        if (!read)
            ++m_failures;
        return read;
    }
    if (!m_stmt || m_eof)
        return false;
    int rc;
    {
        // The step and the reading of its result belong together.
        sqlite3* db = sqlite3_db_handle(m_stmt);
        sqlite3_mutex* mutex = sqlite3_db_mutex(db);
        sqlite3_mutex_enter(mutex);
        rc = sqlite3_step(m_stmt);
        sqlite3_mutex_leave(mutex);
    }
    if (rc == SQLITE_ROW)
        return true;
    m_eof = true;
    if (rc == SQLITE_DONE)
        return true;
    ++m_failures;
    return false;
}

int CAdoRecordSet::GetFieldsCount() const
{
    return m_hasColumns ? int(m_columnNames.size()) : -1;
}

QString CAdoRecordSet::GetFieldName(int position) const
{
    return m_columnNames.value(position);
}

CVariant CAdoRecordSet::GetValue(int position) const
{
    if (IsEOF() || position < 0 || position >= m_columnTypes.size())
        return CVariant();
    return ValueAt(position);
}

bool CAdoRecordSet::GetCollect(int position, QString& out)
{
    if (position >= GetFieldsCount())
        return false;
    if (!IsOpen()) {
        ShowMessageBox(DisconnectedText(), QStringLiteral("提示"), EMsgIcon::Information, EMsgButtons::Ok);
        return false;
    }
    if (IsEOF() || position < 0)
        return false;
    out = VariantToText(ValueAt(position));
    return true;
}

bool CAdoRecordSet::GetCollectUtf8(int position, QByteArray& out)
{
    if (IsEOF() || position < 0 || position >= m_columnTypes.size()) {
        QString text;
        const bool ok = GetCollect(position, text);
        out = text.toUtf8();
        return ok;
    }
    std::vector<QByteArray> scratch(1);
    std::string_view text;
    GetRowUtf8({position}, scratch, &text);
    out = QByteArray(text.data(), qsizetype(text.size()));
    return true;
}

bool CAdoRecordSet::GetRowUtf8(const QList<int>& positions, std::vector<QByteArray>& scratch, std::string_view* out)
{
    scratch.resize(size_t(positions.size()));
    if (IsEOF()) {
        for (qsizetype i = 0; i < positions.size(); ++i)
            out[i] = {};
        return false;
    }
    if (m_rows) {
        const PGresult* result = m_rows->Current();
        for (qsizetype i = 0; i < positions.size(); ++i) {
            const int position = positions[i];
            out[i] = {};
            if (position < 0 || position >= m_columnTypes.size())
                continue;
            if (TeamTextIsValueText(result, 0, position, m_columnTypes[position])) {
                out[i] = std::string_view(PQgetvalue(result, 0, position), size_t(PQgetlength(result, 0, position)));
                continue;
            }
            QByteArray& converted = scratch[size_t(i)];
            converted = VariantToText(ValueAt(position)).toUtf8();
            out[i] = std::string_view(converted.constData(), size_t(converted.size()));
        }
        return true;
    }
    // Serialised connection: every column call would take the lock on its own.
    sqlite3_mutex* mutex = sqlite3_db_mutex(sqlite3_db_handle(m_stmt));
    sqlite3_mutex_enter(mutex);
    for (qsizetype i = 0; i < positions.size(); ++i) {
        const int position = positions[i];
        out[i] = {};
        if (position < 0 || position >= m_columnTypes.size())
            continue;
        const EVarType declared = m_columnTypes[position];
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
    sqlite3_mutex_leave(mutex);
    return true;
}

bool CAdoRecordSet::GetCollectBool(int position, bool& out)
{
    out = false;
    if (IsEOF() || position < 0 || position >= m_columnTypes.size())
        return false;
    const CVariant value = ValueAt(position);
    out = value.type == EVarType::Bool && value.integer != 0;
    return true;
}

bool CAdoRecordSet::GetCollectInt(int position, int& out)
{
    out = 0;
    if (IsEOF() || position < 0 || position >= m_columnTypes.size())
        return false;
    out = VariantToInt(ValueAt(position));
    return true;
}
