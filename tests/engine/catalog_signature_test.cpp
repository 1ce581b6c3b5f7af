#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/signature.h"
#include "tools/catalog_signing.h"

namespace {

using catalogsign::toHex;

const char* const kNoMatch = "the catalog's signature does not match (changed after signing, or signed by another key)";
const char* const kNotSig = "the signature file is not an ed25519 signature";
const char* const kBadKey = "no valid public key (64 hex digits)";

struct Signed {
    catalogsign::KeyPair first = catalogsign::makeKeyPair(), second = catalogsign::makeKeyPair();
    std::string text = "{\"schema\": 1, \"sequence\": 3}\r\n";
    std::string keys = toHex(first.publicKey) + "," + toHex(second.publicKey);
};

bool verify(const std::string& text, const std::string& sig, const std::string& keys, std::string& error) {
    error.clear();
    return tqm::verifySignature(text, sig, keys, error);
}

TEST(Signature, AnyListedKeyVerifies) {
    Signed s;
    std::string error = "untouched";
    for (const auto* key : {&s.first, &s.second}) {
        const std::string sig = catalogsign::signBase64(key->secretKey, s.text);
        EXPECT_TRUE(tqm::verifySignature(s.text, sig, s.keys, error));
        EXPECT_TRUE(tqm::verifySignature(s.text, sig, toHex(key->publicKey), error));
        EXPECT_TRUE(tqm::verifySignature(s.text, sig, "," + s.keys + ",,", error));  // empty pieces skipped
    }
    EXPECT_EQ(error, "untouched");
}

TEST(Signature, SignatureTextIsLenientBase64) {
    Signed s;
    const std::string sig = catalogsign::signBase64(s.first.secretKey, s.text);
    const std::string key = toHex(s.first.publicKey);
    std::string error;
    // Split over lines, no padding, upper-case key: all accepted.
    std::string split = sig.substr(0, 30) + "\r\n" + sig.substr(30, 20) + " \n" + sig.substr(50) + "\n";
    EXPECT_TRUE(verify(s.text, split, key, error)) << error;
    std::string bare = sig;
    bare.erase(bare.find('='));
    EXPECT_TRUE(verify(s.text, bare, key, error)) << error;
    std::string upper = key;
    for (char& c : upper) c = char(toupper(c));
    EXPECT_TRUE(verify(s.text, sig, upper, error)) << error;
}

TEST(Signature, RefusalsCarryTheirMessage) {
    Signed s;
    const std::string sig = catalogsign::signBase64(s.first.secretKey, s.text);
    const std::string key = toHex(s.first.publicKey);
    const std::string other = toHex(s.second.publicKey);
    std::string changedSig = sig;
    changedSig[10] = changedSig[10] == 'A' ? 'B' : 'A';
    std::string changedKey = key;
    changedKey[0] = changedKey[0] == '0' ? '1' : '0';
    const std::string tooLong = catalogsign::toBase64(std::string(65, 'x'));
    const std::string tooShort = catalogsign::toBase64(std::string(63, 'x'));
    struct Case {
        std::string text, sig, keys, message;
    };
    const std::vector<Case> table = {
        {"{\"schema\": 1, \"sequence\": 3}\n", sig, key, kNoMatch},  // a line ending changed
        {"{\"schema\": 1, \"sequence\": 4}\r\n", sig, key, kNoMatch},
        {s.text, changedSig, key, kNoMatch},
        {s.text, sig, changedKey, kNoMatch},
        {s.text, sig, other, kNoMatch},
        {s.text, sig.substr(0, 20) + "\t" + sig.substr(20), key, kNotSig},
        {s.text, sig.substr(0, 20) + "*" + sig.substr(20), key, kNotSig},
        {s.text, "", key, kNotSig},
        {s.text, tooLong, key, kNotSig},
        {s.text, tooShort, key, kNotSig},
        {s.text, sig, key.substr(1), kBadKey},
        {s.text, sig, key + "ab", kBadKey},
        {s.text, sig, key.substr(2) + "zz", kBadKey},
        {s.text, sig, "", kBadKey},
        {s.text, "not base64!", "nothex", kBadKey},  // the key is checked first
        {s.text, sig, ",,,", "no valid public key"},
        {s.text, sig, "xyz," + key + "," + other, ""},  // a later key verifies
        {s.text, sig, "xyz," + other, kBadKey},         // the first failing key's message
        {s.text, sig, other + ",xyz", kNoMatch},
    };
    for (const Case& c : table) {
        std::string error;
        const bool ok = verify(c.text, c.sig, c.keys, error);
        EXPECT_EQ(ok, c.message.empty()) << c.keys << " / " << c.sig;
        EXPECT_EQ(error, c.message) << c.keys << " / " << c.sig;
    }
}

TEST(Signature, BuiltInListHoldsTwoKeys) {
    const std::string& keys = tqm::builtinKeys();
    ASSERT_EQ(keys.size(), 129u);
    EXPECT_EQ(keys[64], ',');
    std::string error;
    // Well-formed keys: a foreign signature fails on the signature, not on the key.
    const catalogsign::KeyPair k = catalogsign::makeKeyPair();
    EXPECT_FALSE(tqm::verifySignature("x", catalogsign::signBase64(k.secretKey, "x"), keys, error));
    EXPECT_EQ(error, kNoMatch);
}

}  // namespace
