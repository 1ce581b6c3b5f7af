#pragma once
// Making ed25519 key pairs and detached catalog signatures (Base64 of the 64 signature bytes).
// Shared by the signing tool and the tests; callers link libsodium.
#include <sodium.h>

#include <string>

namespace catalogsign {

struct KeyPair {
    std::string publicKey;  // crypto_sign_PUBLICKEYBYTES raw bytes
    std::string secretKey;  // crypto_sign_SECRETKEYBYTES raw bytes
};

inline std::string toHex(const std::string& bytes) {
    std::string out(bytes.size() * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    out.pop_back();
    return out;
}

// Empty when the text is not hexadecimal.
inline std::string fromHex(const std::string& hex) {
    std::string out(hex.size() / 2, '\0');
    size_t len = 0;
    if (sodium_hex2bin(reinterpret_cast<unsigned char*>(out.data()), out.size(), hex.data(), hex.size(), " \n\r", &len,
                       nullptr) != 0)
        return std::string();
    out.resize(len);
    return out;
}

inline std::string toBase64(const std::string& bytes) {
    const int variant = sodium_base64_VARIANT_ORIGINAL;
    std::string out(sodium_base64_encoded_len(bytes.size(), variant), '\0');
    sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      variant);
    out.resize(out.size() - 1);  // the terminating NUL
    return out;
}

inline KeyPair makeKeyPair() {
    if (sodium_init() < 0) return KeyPair();
    KeyPair k;
    k.publicKey.resize(crypto_sign_PUBLICKEYBYTES);
    k.secretKey.resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(k.publicKey.data()),
                        reinterpret_cast<unsigned char*>(k.secretKey.data()));
    return k;
}

// The public key held in an ed25519 secret key.
inline std::string publicOf(const std::string& secretKey) {
    if (secretKey.size() != crypto_sign_SECRETKEYBYTES) return std::string();
    std::string pk(crypto_sign_PUBLICKEYBYTES, '\0');
    crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char*>(pk.data()),
                                 reinterpret_cast<const unsigned char*>(secretKey.data()));
    return pk;
}

// Base64 of the detached signature of text; empty when the secret key is not one.
inline std::string signBase64(const std::string& secretKey, const std::string& text) {
    if (sodium_init() < 0 || secretKey.size() != crypto_sign_SECRETKEYBYTES) return std::string();
    unsigned char sig[crypto_sign_BYTES];
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                         reinterpret_cast<const unsigned char*>(secretKey.data()));
    return toBase64(std::string(reinterpret_cast<const char*>(sig), sizeof sig));
}

}  // namespace catalogsign
