#pragma once
// Cashiers' passwords are kept as salted argon2id hashes (libsodium's
// crypto_pwhash_str), never as typed.
#include <string>

namespace kv::reg {

// A new hash of `password` in libsodium's text form ("$argon2id$v=19$...").
// Throws std::runtime_error when libsodium cannot work (out of memory).
std::string HashPassword(const std::string& password);
// Whether `stored` is such a hash (and not a password stored as typed).
bool IsPasswordHash(const std::string& stored);
// Whether `password` matches the stored hash.
bool VerifyPassword(const std::string& stored, const std::string& password);

}  // namespace kv::reg
