#include "register/Passwords.h"

#include <sodium.h>

#include <stdexcept>

namespace kv::reg {

namespace {
void Init() {
    static const int ok = sodium_init();
    if (ok < 0) throw std::runtime_error("libsodium could not be initialised");
}
}  // namespace

std::string HashPassword(const std::string& password) {
    Init();
    char out[crypto_pwhash_STRBYTES];
    // The interactive limits: a login on a till must answer at once, and the
    // file is as well protected as the machine it lives on.
    if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("password hash failed (out of memory)");
    return out;
}

bool IsPasswordHash(const std::string& stored) { return stored.rfind("$argon2id$", 0) == 0; }

bool VerifyPassword(const std::string& stored, const std::string& password) {
    Init();
    if (!IsPasswordHash(stored) || stored.size() >= crypto_pwhash_STRBYTES) return false;
    return crypto_pwhash_str_verify(stored.c_str(), password.data(), password.size()) == 0;
}

}  // namespace kv::reg
