#include "engine/signature.h"

#include <sodium.h>

#include <cstdint>
#include <mutex>
#include <vector>

#ifndef TQM_BUILTIN_KEYS
#define TQM_BUILTIN_KEYS ""
#endif

namespace tqm {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeHex(const std::string& text, std::vector<uint8_t>& out) {
    if (text.empty() || text.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(uint8_t(hi << 4 | lo));
    }
    return true;
}

// Standard Base64; line breaks, blanks and "=" are skipped wherever they stand.
bool decodeBase64(const std::string& text, std::vector<uint8_t>& out) {
    out.clear();
    uint32_t bits = 0;
    int count = 0;
    for (unsigned char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '\n' || c == '\r' || c == ' ' || c == '=')
            continue;
        else
            return false;
        bits = (bits << 6 | uint32_t(v)) & 0xFFFFFF;
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(uint8_t(bits >> count));
        }
    }
    return true;
}

bool sodiumReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = sodium_init() >= 0; });
    return ready;
}

bool verifyOne(const std::string& text, const std::string& signature, const std::string& key, std::string& error) {
    std::vector<uint8_t> pk;
    if (!decodeHex(key, pk) || pk.size() != crypto_sign_PUBLICKEYBYTES) {
        error = "no valid public key (64 hex digits)";
        return false;
    }
    std::vector<uint8_t> sig;
    if (signature.empty() || !decodeBase64(signature, sig) || sig.size() != crypto_sign_BYTES) {
        error = "the signature file is not an ed25519 signature";
        return false;
    }
    if (sodiumReady() && crypto_sign_verify_detached(sig.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                                     text.size(), pk.data()) == 0)
        return true;
    error = "the catalog's signature does not match (changed after signing, or signed by another key)";
    return false;
}

}  // namespace

bool verifySignature(const std::string& text, const std::string& signature, const std::string& keys,
                     std::string& error) {
    if (keys.find(',') == std::string::npos) return verifyOne(text, signature, keys, error);
    std::string first;
    bool any = false;
    size_t start = 0;
    while (start <= keys.size()) {
        size_t comma = keys.find(',', start);
        if (comma == std::string::npos) comma = keys.size();
        const std::string key = keys.substr(start, comma - start);
        start = comma + 1;
        if (key.empty()) continue;
        std::string message;
        if (verifyOne(text, signature, key, message)) return true;
        if (!any) first = message;
        any = true;
    }
    error = any ? first : "no valid public key";
    return false;
}

const std::string& builtinKeys() {
    static const std::string keys = TQM_BUILTIN_KEYS;
    return keys;
}

}  // namespace tqm
