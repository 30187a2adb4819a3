#include "PgSession.h"

#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rivuzovara::pg {

namespace {

constexpr const char* kConnectTimeoutS = "5";

// Every session sends and reads UTF-8 and commits durably, whatever the server's defaults
// or the url's options say.
constexpr const char* kSessionSetup = "select set_config('standard_conforming_strings', 'on', false), "
                                      "set_config('synchronous_commit', 'on', false)";

pg_conn* ConnectWith(const std::string& url, bool blocking, const char* applicationName = "rivuzovara")
{
    // The url comes last, so its own settings win over these defaults.
    const char* keys[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                          "keepalives_interval", "keepalives_count", "tcp_user_timeout",
                          "application_name",    "dbname",           nullptr};
    const char* values[] = {kConnectTimeoutS, "1", "10", "5", "3", "30000", applicationName, url.c_str(), nullptr};
    return blocking ? PQconnectdbParams(keys, values, 1) : PQconnectStartParams(keys, values, 1);
}

void LogNotice(void*, const char* message)
{
    std::string text(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    Log("PostgreSQL store: " + text);
}

} // namespace

SParam Int8(long long value)
{
    return {kInt8Oid, std::to_string(value)};
}

SParam Text(std::string value)
{
    return {kTextOid, std::move(value)};
}

SParam Bytes(std::string value)
{
    return {kByteaOid, std::move(value), true};
}

SParam Bool(bool value)
{
    return {kBoolOid, value ? "t" : "f"};
}

CArrayParam::CArrayParam(unsigned arrayType, unsigned elementType, size_t count) : m_type(arrayType)
{
    // array_recv's layout: dimensions, has-nulls flag, element type, then size and lower bound.
    Put32(1);
    Put32(0);
    Put32(elementType);
    Put32(uint32_t(count));
    Put32(1);
}

void CArrayParam::Put32(uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        m_data.push_back(char((value >> shift) & 0xff));
}

void CArrayParam::Add(long long value)
{
    Put32(8);
    Put32(uint32_t(uint64_t(value) >> 32));
    Put32(uint32_t(uint64_t(value)));
}

void CArrayParam::Add(const std::string& bytes)
{
    Put32(uint32_t(bytes.size()));
    m_data += bytes;
}

CPgResult::~CPgResult()
{
    PQclear(m_result);
}

CPgResult& CPgResult::operator=(CPgResult&& other) noexcept
{
    if (this != &other) {
        PQclear(m_result);
        m_result = other.m_result;
        other.m_result = nullptr;
    }
    return *this;
}

bool CPgResult::Ok() const
{
    const ExecStatusType status = PQresultStatus(m_result);
    return m_result && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
}

int CPgResult::Rows() const
{
    return m_result ? PQntuples(m_result) : 0;
}

long long CPgResult::Affected() const
{
    return m_result ? std::atoll(PQcmdTuples(m_result)) : 0;
}

std::string CPgResult::Text(int row, int column) const
{
    if (!m_result || row >= PQntuples(m_result) || column >= PQnfields(m_result))
        return {};
    return std::string(PQgetvalue(m_result, row, column), size_t(PQgetlength(m_result, row, column)));
}

long long CPgResult::Int(int row, int column) const
{
    return std::atoll(Text(row, column).c_str());
}

bool CPgResult::Bool(int row, int column) const
{
    return Text(row, column) == "t";
}

std::string CPgResult::Bytes(int row, int column) const
{
    const std::string hex = Text(row, column);
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    const auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(char(digit(hex[i]) * 16 + digit(hex[i + 1])));
    return bytes;
}

std::string CPgResult::Error(pg_conn* conn) const
{
    std::string text = m_result ? PQresultErrorMessage(m_result) : "";
    if (text.empty())
        return ConnError(conn);
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::string CPgResult::State() const
{
    const char* state = m_result ? PQresultErrorField(m_result, PG_DIAG_SQLSTATE) : nullptr;
    return state ? state : "";
}

CPgSession::~CPgSession()
{
    PQfinish(m_conn);
}

std::unique_ptr<CPgSession> CPgSession::Connect(const std::string& url, std::string& error)
{
    pg_conn* conn = ConnectWith(url, true);
    if (!conn || PQstatus(conn) != CONNECTION_OK) {
        error = ConnError(conn);
        PQfinish(conn);
        return nullptr;
    }
    if (!FinishSetup(conn, error)) {
        PQfinish(conn);
        return nullptr;
    }
    return std::unique_ptr<CPgSession>(new CPgSession(conn));
}

namespace {

struct SParamArrays
{
    explicit SParamArrays(const std::vector<SParam>& params)
    {
        for (const SParam& param : params) {
            types.push_back(param.type);
            values.push_back(param.value.c_str());
            lengths.push_back(int(param.value.size()));
            formats.push_back(param.binary ? 1 : 0);
        }
    }
    std::vector<unsigned> types;
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
};

} // namespace

CPgResult CPgSession::Run(const std::string& sql, const std::vector<SParam>& params, std::string& error)
{
    const SParamArrays arrays(params);
    CPgResult result(PQexecParams(m_conn, sql.c_str(), int(params.size()), arrays.types.data(), arrays.values.data(),
                                  arrays.lengths.data(), arrays.formats.data(), 0));
    if (!result.Ok())
        error = result.Error(m_conn);
    return result;
}

CPgResult CPgSession::RunPrepared(const std::string& name, const std::string& sql, const std::vector<SParam>& params,
                                  std::string& error)
{
    if (!m_prepared.contains(name) && !Prepare(name, sql, params, error))
        return CPgResult();
    const SParamArrays arrays(params);
    CPgResult result(PQexecPrepared(m_conn, name.c_str(), int(params.size()), arrays.values.data(),
                                    arrays.lengths.data(), arrays.formats.data(), 0));
    if (!result.Ok())
        error = result.Error(m_conn);
    return result;
}

bool CPgSession::Prepare(const std::string& name, const std::string& sql, const std::vector<SParam>& params,
                         std::string& error)
{
    const SParamArrays arrays(params);
    CPgResult prepared(PQprepare(m_conn, name.c_str(), sql.c_str(), int(params.size()), arrays.types.data()));
    if (!prepared.Ok()) {
        error = prepared.Error(m_conn);
        return false;
    }
    m_prepared.insert(name);
    return true;
}

bool CPgSession::SendPrepared(const std::string& name, const std::vector<SParam>& params, std::string& error)
{
    if (!m_prepared.contains(name)) {
        error = "statement " + name + " not prepared";
        return false;
    }
    const SParamArrays arrays(params);
    if (PQsendQueryPrepared(m_conn, name.c_str(), int(params.size()), arrays.values.data(), arrays.lengths.data(),
                            arrays.formats.data(), 0) != 1 ||
        PQpipelineSync(m_conn) != 1) {
        error = ConnError(m_conn);
        return false;
    }
    return true;
}

bool CPgSession::IsBroken() const
{
    return !m_conn || PQstatus(m_conn) != CONNECTION_OK;
}

pg_conn* StartListenerConnect(const std::string& url)
{
    return ConnectWith(url, false, kListenerApplication);
}

bool FinishSetup(pg_conn* conn, std::string& error)
{
    PQsetNoticeProcessor(conn, LogNotice, nullptr);
    if (PQsetClientEncoding(conn, "UTF8") != 0) {
        error = "client_encoding UTF8 refused: " + ConnError(conn);
        return false;
    }
    CPgResult result(PQexec(conn, kSessionSetup));
    if (!result.Ok()) {
        error = "session set-up failed: " + result.Error(conn);
        return false;
    }
    return true;
}

std::string ConnError(pg_conn* conn)
{
    if (!conn)
        return "out of memory";
    std::string text = PQerrorMessage(conn);
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text.empty() ? "unknown error" : text;
}

std::string UrlForLog(const std::string& url)
{
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &parseError);
    if (!options) {
        PQfreemem(parseError);
        return "(unreadable store url)";
    }
    std::string text;
    for (PQconninfoOption* option = options; option->keyword; ++option) {
        if (!option->val || !*option->val || std::strcmp(option->keyword, "password") == 0)
            continue;
        if (!text.empty())
            text += ' ';
        text += std::string(option->keyword) + "=" + option->val;
    }
    PQconninfoFree(options);
    return text;
}

void Log(const std::string& line)
{
    // As the server's own lines: a syslog priority (warning) first when journald reads us.
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    const std::string text = (journal ? "<4>" : "") + std::string("rivuzovara: ") + line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

} // namespace rivuzovara::pg
