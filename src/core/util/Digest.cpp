#include "util/Digest.h"

#include <sodium.h>

#include <stdexcept>

namespace kv {

std::string Sha256Hex(std::string_view bytes) {
    if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(hash, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve(2 * sizeof hash);
    for (unsigned char b : hash) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

}  // namespace kv
