#pragma once
// A forward-reading cursor over one query, read by column position. Lives on
// the caller's stack for one reading; never shared between threads.
#include "store/Variant.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <string_view>
#include <vector>

class CAdoConnection;
class CStoreCursor;

class CAdoRecordSet
{
public:
    // Bound to g_pConnection.
    CAdoRecordSet();
    explicit CAdoRecordSet(CAdoConnection* connection);
    virtual ~CAdoRecordSet();
    CAdoRecordSet(const CAdoRecordSet&) = delete;
    CAdoRecordSet& operator=(const CAdoRecordSet&) = delete;

    bool Open(const QString& sql = QString());
    void Close();
    bool IsOpen() const;
    // True at the end, and also when the store keeps failing, so reading loops always end.
    bool IsEOF() const;
    bool MoveNext();
    int GetFieldsCount() const;
    // The column collection: name of the column at a position, empty when there is none.
    QString GetFieldName(int position) const;

    bool GetCollect(int position, QString& out);
    bool GetCollectBool(int position, bool& out);
    bool GetCollectInt(int position, int& out);
    // GetCollect's text as UTF-8, without the round trip through QString where
    // the stored bytes already are that text (reading a million rows).
    bool GetCollectUtf8(int position, QByteArray& out);
    // The texts at several positions of the current row at once (one lock of
    // the connection for the row); a position of -1 gives an empty text.
    // out[i] stays valid until the next move; scratch holds what had to be converted.
    bool GetRowUtf8(const QList<int>& positions, std::vector<QByteArray>& scratch, std::string_view* out);
    // The raw value at a position (Empty when there is none).
    CVariant GetValue(int position) const;

    CAdoConnection* m_pConnection = nullptr;

    // The one message of the layer, shown when a column is read from a set that is not open.
    static QString DisconnectedText();

private:
    // The value at a position of the current row; the caller checked the position.
    CVariant ValueAt(int position) const;

    QString m_sql;
    // The store's rows of the open query.
    std::unique_ptr<CStoreCursor> m_cursor;
    bool m_eof = true;
    int m_failures = 0;
    // The column collection of the last query that opened; kept after Close, as the
    // original provider kept its field collection, so a closed set still knows its columns.
    bool m_hasColumns = false;
    QStringList m_columnNames;
    QList<EVarType> m_columnTypes; // the value type each declared column type yields; Empty: by value
};
