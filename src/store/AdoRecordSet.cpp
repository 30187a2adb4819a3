#include "store/AdoRecordSet.h"

#include "platform/MessageBox.h"
#include "store/AdoConnection.h"
#include "store/StoreBackend.h"

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
    std::unique_ptr<CStoreCursor> cursor = m_pConnection->OpenCursor(m_sql);
    if (!cursor)
        return false;
    m_columnNames = cursor->ColumnNames();
    m_columnTypes = cursor->ColumnTypes();
    m_hasColumns = true;
    m_eof = cursor->AtEnd();
    m_cursor = std::move(cursor);
    return true;
}

void CAdoRecordSet::Close()
{
    m_cursor.reset();
    m_eof = true;
}

bool CAdoRecordSet::IsOpen() const
{
    return m_cursor != nullptr;
}

CVariant CAdoRecordSet::ValueAt(int position) const
{
    return m_cursor->Value(position);
}

bool CAdoRecordSet::IsEOF() const
{
    // A closed set, or one whose store failed while reading, is at its end: a reading
    // loop ends instead of asking again and again.
    return !IsOpen() || m_eof || m_failures > 0;
}

bool CAdoRecordSet::MoveNext()
{
    if (!m_cursor || m_eof)
        return false;
    const bool read = m_cursor->Next();
    m_eof = m_cursor->AtEnd();
    if (!read)
        ++m_failures;
    return read;
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
    m_cursor->RowUtf8(positions, scratch, out);
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
