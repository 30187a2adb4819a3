#include "store/TeamBackend.h"

#include "store/SqlText.h"
#include "store/TeamSession.h"
#include "store/TeamStore.h"
#include "store/TeamValue.h"

#include <libpq-fe.h>

namespace {

// A query's rows as the server sends them; row 0 of the rows' current result is the current row.
class CTeamCursor final : public CStoreCursor
{
public:
    CTeamCursor(std::unique_ptr<CTeamRows> rows, const CTeamStore& store) : m_rows(std::move(rows))
    {
        const PGresult* result = m_rows->Current();
        const int count = PQnfields(result);
        for (int i = 0; i < count; ++i) {
            m_names.append(QString::fromUtf8(PQfname(result, i)));
            const Oid table = PQftable(result, i);
            m_types.append(table == InvalidOid ? EVarType::Empty : store.DeclaredType(table, PQftablecol(result, i)));
        }
    }

    bool AtEnd() const override { return m_rows->AtEnd(); }
    bool Next() override { return m_rows->Next(); }
    CVariant Value(int position) const override
    {
        return ReadTeamValue(m_rows->Current(), 0, position, m_types[position]);
    }

    void RowUtf8(const QList<int>& positions, std::vector<QByteArray>& scratch, std::string_view* out) override
    {
        const PGresult* result = m_rows->Current();
        for (qsizetype i = 0; i < positions.size(); ++i) {
            const int position = positions[i];
            out[i] = {};
            if (position < 0 || position >= m_types.size())
                continue;
            if (TeamTextIsValueText(result, 0, position, m_types[position])) {
                out[i] = std::string_view(PQgetvalue(result, 0, position), size_t(PQgetlength(result, 0, position)));
                continue;
            }
            QByteArray& converted = scratch[size_t(i)];
            converted = VariantToText(Value(position)).toUtf8();
            out[i] = std::string_view(converted.constData(), size_t(converted.size()));
        }
    }

private:
    std::unique_ptr<CTeamRows> m_rows;
};

// While the server is away every statement fails; that was logged once.
void LogFailure(const QString& sql, const QString& error)
{
    if (error != TeamLostText())
        LogStatementFailure(sql, error);
}

} // namespace

CTeamBackend::CTeamBackend(const QString& url, const QString& machine, QThread* window)
    : m_store(std::make_unique<CTeamStore>(url, machine))
{
    m_store->SetWindowThread(window);
}

CTeamBackend::~CTeamBackend() = default;

bool CTeamBackend::Start(QString* why, bool* refused)
{
    return m_store->Start(why, refused);
}

QString CTeamBackend::MachineName() const
{
    return m_store->Machine();
}

bool CTeamBackend::IsReachable() const
{
    return m_store->IsReachable();
}

void CTeamBackend::SetWindowThread(QThread* thread, int busyTimeoutMs)
{
    Q_UNUSED(busyTimeoutMs); // the window's statements have the server's statement time-out
    m_store->SetWindowThread(thread);
}

int CTeamBackend::ExecuteChanges(const QString& sql)
{
    QString error;
    PGresult* result = m_store->Run(TranslateForTeam(sql), &error);
    if (!result) {
        LogFailure(sql, error);
        return -1;
    }
    // An insert that met a visitor already recorded changed nothing: 0.
    const int changed = QByteArray(PQcmdTuples(result)).toInt();
    PQclear(result);
    return changed;
}

std::unique_ptr<CStoreCursor> CTeamBackend::OpenCursor(const QString& sql)
{
    QString error;
    std::unique_ptr<CTeamRows> rows = m_store->Stream(TranslateForTeam(sql), &error);
    if (!rows) {
        LogFailure(sql, error);
        return nullptr;
    }
    return std::make_unique<CTeamCursor>(std::move(rows), *m_store);
}
