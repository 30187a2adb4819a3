#pragma once
// One libpq session of the PostgreSQL view store, with the session settings
// pinned, and the result of one statement. A session is used by one thread at
// a time (the store's pool hands it out). Only server/pg includes this header.
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace rivuzovara::pg {

// Type OIDs of the parameters we send (pg_type.h is not in libpq-dev).
constexpr unsigned kInt8Oid = 20;
constexpr unsigned kTextOid = 25;
constexpr unsigned kByteaOid = 17;
constexpr unsigned kBoolOid = 16;

constexpr unsigned kInt8ArrayOid = 1016;
constexpr unsigned kTextArrayOid = 1009;
constexpr unsigned kByteaArrayOid = 1001;

// One statement parameter. bytea and arrays go in binary form, so every byte arrives as it is
// and nothing needs quoting.
struct SParam
{
    unsigned type = kTextOid;
    std::string value;
    bool binary = false;
};
SParam Int8(long long value);
SParam Text(std::string value);
SParam Bytes(std::string value);
SParam Bool(bool value);

// A one-dimensional array parameter without nulls, built element by element.
class CArrayParam
{
public:
    CArrayParam(unsigned arrayType, unsigned elementType, size_t count);
    void Add(long long value);
    void Add(const std::string& bytes);
    SParam Take() { return {m_type, std::move(m_data), true}; }

private:
    void Put32(uint32_t value);
    unsigned m_type;
    std::string m_data;
};

class CPgResult
{
public:
    explicit CPgResult(pg_result* result = nullptr) : m_result(result) {}
    ~CPgResult();
    CPgResult(CPgResult&& other) noexcept : m_result(other.m_result) { other.m_result = nullptr; }
    CPgResult& operator=(CPgResult&& other) noexcept;
    CPgResult(const CPgResult&) = delete;
    CPgResult& operator=(const CPgResult&) = delete;

    bool Ok() const;
    int Rows() const;
    long long Affected() const;
    std::string Text(int row, int column) const;
    long long Int(int row, int column) const;
    bool Bool(int row, int column) const;
    // A column sent as encode(x, 'hex'), as its bytes.
    std::string Bytes(int row, int column) const;
    // The server's message, one line (libpq's when the statement did not reach it).
    std::string Error(pg_conn* conn) const;
    // The server's SQLSTATE, empty when the statement did not reach it.
    std::string State() const;

private:
    pg_result* m_result;
};

class CPgSession
{
public:
    ~CPgSession();
    CPgSession(const CPgSession&) = delete;
    CPgSession& operator=(const CPgSession&) = delete;

    // Connects (blocking, with a time-out), pins the encoding and the settings our
    // statements rely on; nullptr with the reason.
    static std::unique_ptr<CPgSession> Connect(const std::string& url, std::string& error);

    // One statement with its values as parameters; on failure *error gets the reason.
    CPgResult Run(const std::string& sql, const std::vector<SParam>& params, std::string& error);
    CPgResult Run(const std::string& sql, std::string& error) { return Run(sql, {}, error); }
    // The same, for a statement run again and again: parsed and planned once per session.
    CPgResult RunPrepared(const std::string& name, const std::string& sql, const std::vector<SParam>& params,
                          std::string& error);
    // For a session in pipeline mode: prepared beforehand (params: their types), then sent
    // with a sync after each, the results read by the caller.
    bool Prepare(const std::string& name, const std::string& sql, const std::vector<SParam>& params,
                 std::string& error);
    bool SendPrepared(const std::string& name, const std::vector<SParam>& params, std::string& error);
    bool IsBroken() const;
    pg_conn* Conn() const { return m_conn; }

private:
    explicit CPgSession(pg_conn* conn) : m_conn(conn) {}
    pg_conn* m_conn;
    std::set<std::string> m_prepared;
};

// Starts a connection for PQconnectPoll with the same settings as Connect (it shows as the
// application "rivuzovara-listener"); the caller finishes it with FinishSetup once it is made.
// The listener's application name: the other servers look for it in the activity list.
constexpr const char* kListenerApplication = "rivuzovara-listener";
pg_conn* StartListenerConnect(const std::string& url);
bool FinishSetup(pg_conn* conn, std::string& error);
std::string ConnError(pg_conn* conn);
// The url without its password, for the log.
std::string UrlForLog(const std::string& url);
// One line on stderr (journald keeps it), for what no caller hears of.
void Log(const std::string& line);

} // namespace rivuzovara::pg
