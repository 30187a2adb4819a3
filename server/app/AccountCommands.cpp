#include "AccountCommands.h"

#include "PasswordHash.h"

#include <cstdio>

namespace rivuzovara {

namespace {

int Fail(const std::string& reason)
{
    std::fprintf(stderr, "rivuzovara: %s\n", reason.c_str());
    return 1;
}

int Changed(EChange change, const std::string& name, const std::string& error)
{
    if (change == EChange::NoSuchAccount)
        return Fail("no account " + name);
    if (change == EChange::Failed)
        return Fail("the store failed: " + error);
    std::printf("+OK\n");
    return 0;
}

// The first line without its end (LF or CR LF).
std::string ReadLine(std::FILE* in)
{
    std::string line;
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n')
        line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

int RunAccountCommand(IViewStore& store, const std::vector<std::string>& words)
{
    const std::string& verb = words[1];
    std::string error;
    if (verb == "list") {
        std::vector<SAccount> accounts;
        if (!store.Accounts(accounts, error))
            return Fail("the store failed: " + error);
        // name, web ID, state, IM name, created, views kept: one line each, tab-separated.
        for (const auto& a : accounts)
            std::printf("%s\t%lld\t%s\t%s\t%s\t%lld\n", a.name.c_str(), a.webId, a.frozen ? "frozen" : "active",
                        a.imName.c_str(), a.created.c_str(), a.views);
        return 0;
    }
    const std::string& name = words[2];
    if (name.empty())
        return Fail("an account needs a name");
    if (verb == "add") {
        // "-": the password is the first line of standard input, which ps does not show.
        const bool fromInput = words[3] == "-";
        const std::string password = fromInput ? ReadLine(stdin) : words[3];
        if (password.empty())
            return Fail(fromInput ? "no password on the first line of standard input" : "an account needs a password");
        const std::string hash = HashPassword(password);
        if (hash.empty())
            return Fail("cannot hash the password (libcrypt)");
        const long long webId = store.SetAccount(name, hash, error);
        if (webId < 0)
            return Fail("the store failed: " + error);
        std::printf("+OK %lld\n", webId);
        return 0;
    }
    if (verb == "freeze" || verb == "unfreeze")
        return Changed(store.SetFrozen(name, verb == "freeze", error), name, error);
    return Changed(store.RemoveAccount(name, error), name, error);
}

} // namespace rivuzovara
