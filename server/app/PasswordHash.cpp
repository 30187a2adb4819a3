#include "PasswordHash.h"

#include <crypt.h>

#include <memory>

namespace rivuzovara {

std::string HashPassword(const std::string& password)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    for (const char* prefix : {"$y$", "$6$"}) {
        // No random bytes given: libcrypt takes them from the kernel.
        if (!crypt_gensalt_rn(prefix, 0, nullptr, 0, setting, sizeof setting))
            continue;
        auto data = std::make_unique<crypt_data>();
        const char* hash = crypt_r(password.c_str(), setting, data.get());
        if (hash && hash[0] == '$')
            return hash;
    }
    return {};
}

bool PasswordMatches(const std::string& password, const std::string& hash)
{
    if (hash.empty() || hash[0] != '$')
        return false;
    auto data = std::make_unique<crypt_data>();
    const char* computed = crypt_r(password.c_str(), hash.c_str(), data.get());
    if (!computed || computed[0] != '$')
        return false;
    const std::string again = computed;
    if (again.size() != hash.size())
        return false;
    // Compared in constant time: the time taken tells nothing of where they differ.
    unsigned char difference = 0;
    for (size_t i = 0; i < hash.size(); ++i)
        difference |= static_cast<unsigned char>(again[i] ^ hash[i]);
    return difference == 0;
}

} // namespace rivuzovara
