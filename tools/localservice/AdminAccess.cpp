#include "AdminAccess.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string NewToken()
{
    unsigned char bytes[24] = {};
    std::ifstream random("/dev/urandom", std::ios::binary);
    random.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (!random)
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 0x0F];
    }
    return token;
}

// Equal texts, in a time that does not tell how much of a guess was right.
bool SameSecret(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

void Refuse(httplib::Response& res, int status, const char* text)
{
    res.status = status;
    res.set_content(text, "text/plain; charset=utf-8");
}

} // namespace

bool LoadAdminToken(const std::string& dataDir, std::string& token, std::string& error)
{
    const std::string path = dataDir + "/" + kAdminTokenFile;
    const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (made >= 0) {
        token = NewToken();
        const std::string line = token + "\n";
        const bool written = !token.empty() && ::write(made, line.data(), line.size()) == ssize_t(line.size());
        ::close(made);
        if (!written) {
            ::unlink(path.c_str());
            error = "cannot write " + path;
            return false;
        }
        return true;
    }
    if (errno != EEXIST) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ifstream in(path);
    std::getline(in, token);
    while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back())))
        token.pop_back();
    if (token.size() < 16) {
        error = path + " holds no token (delete it to get a new one)";
        return false;
    }
    return true;
}

bool IsLoopbackHost(const std::string& hostHeader)
{
    std::string host = Lower(hostHeader);
    if (!host.empty() && host.front() == '[') {
        const size_t end = host.find(']');
        if (end == std::string::npos)
            return false;
        host = host.substr(1, end - 1);
    } else if (host.find(':') != std::string::npos) {
        host = host.substr(0, host.find(':'));
    }
    if (host == "localhost" || host == "::1")
        return true;
    in_addr v4{};
    return inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

bool AdminRequestAllowed(const httplib::Request& req, httplib::Response& res, const std::string& token)
{
    if (req.method != "POST") {
        res.set_header("Allow", "POST");
        Refuse(res, 405, "-ERR admin calls are POST requests\n");
        return false;
    }
    if (!IsLoopbackHost(req.get_header_value("Host"))) {
        Refuse(res, 403, "-ERR admin calls come from this machine only\n");
        return false;
    }
    if (token.empty() || !SameSecret(req.get_header_value(kAdminTokenHeader), token)) {
        Refuse(res, 403, "-ERR admin calls need the token of the data folder (X-Admin-Token)\n");
        return false;
    }
    return true;
}

bool IsSecretName(const std::string& name)
{
    const std::string lower = Lower(name);
    return lower.find("pwd") != std::string::npos || lower.find("pass") != std::string::npos ||
           lower.find("token") != std::string::npos;
}
