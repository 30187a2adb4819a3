#pragma once
// Account passwords as crypt(3) hashes: yescrypt where libcrypt has it,
// SHA-512 otherwise, each with a fresh random salt. Any thread.
#include <string>

namespace rivuzovara {

// Empty on failure.
std::string HashPassword(const std::string& password);
bool PasswordMatches(const std::string& password, const std::string& hash);

} // namespace rivuzovara
