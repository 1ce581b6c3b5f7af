#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include <sodium.h>

#include "engine/sha256.h"
#include "engine/util.h"
#include "json/json.h"

TEST(Versions, Ordering) {
    struct Case {
        const char *a, *b;
        int want;
    } cases[] = {
        {"1.10", "1.9", 1},       {"1.2", "1.2.0", 0},     {"", "0", 0},          {"1.2.3-beta", "1.2.3", 0},
        {"1.2.3", "1.2.4", -1},   {"1.2.3.4", "1.2.3", 0}, {"1.2a.3", "1.2", 0}, {"v1.2", "0", 0},
        {"2", "1.99.99", 1},      {"1.", "1", 0},          {"1.2.", "1.2", 0},    {"0.0.1", "", 1},
        {"10.0.0", "9.99.99", 1}, {"1.0.10", "1.0.9", 1},
        // Components of 2^63 and more are still larger than small ones.
        {"9223372036854775808", "1", 1}, {"1.18446744073709551615", "1.2", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tqm::compareVersions(c.a, c.b), c.want) << c.a << " vs " << c.b;
        EXPECT_EQ(tqm::compareVersions(c.b, c.a), -c.want) << c.b << " vs " << c.a;
    }
}

TEST(Sha256, StandardDigests) {
    struct Case {
        std::string in, want;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    using tqm::detail::Sha256Path;
    for (const Case& c : cases) {
        EXPECT_EQ(tqm::sha256Hex(c.in.data(), c.in.size()), c.want) << c.in.size();
        // The portable path is checked on its own also where the CPU would take the SHA extensions.
        EXPECT_EQ(tqm::detail::sha256HexWith(Sha256Path::Portable, c.in.data(), c.in.size()), c.want) << c.in.size();
        EXPECT_EQ(tqm::detail::sha256HexWith(Sha256Path::ShaExtensions, c.in.data(), c.in.size()), c.want)
            << c.in.size();
    }
}

namespace {

std::string sodiumSha256(const unsigned char* p, size_t n) {
    unsigned char out[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(out, p, n);
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    for (unsigned char b : out) {
        s += kHex[b >> 4];
        s += kHex[b & 15];
    }
    return s;
}

}  // namespace

TEST(Sha256, MatchesLibsodiumForEveryLengthAndLargeInputs) {
    ASSERT_GE(sodium_init(), 0);
    std::vector<unsigned char> data(5u << 20);
    uint32_t x = 2463534242u;
    for (auto& b : data) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = (unsigned char)x;
    }
    using tqm::detail::Sha256Path;
    auto check = [&](size_t n) {
        const std::string want = sodiumSha256(data.data(), n);
        return tqm::sha256Hex(data.data(), n) == want &&
               tqm::detail::sha256HexWith(Sha256Path::Portable, data.data(), n) == want &&
               tqm::detail::sha256HexWith(Sha256Path::ShaExtensions, data.data(), n) == want;
    };
    // Every length over the one- and two-block tails, from an odd start too (unaligned loads).
    for (size_t n = 0; n <= 300; ++n) ASSERT_TRUE(check(n)) << n;
    for (size_t n : {size_t(1) << 20, (size_t(3) << 20) + 17, data.size()}) EXPECT_TRUE(check(n)) << n;
    for (size_t n = 0; n <= 130; ++n) {
        const std::string want = sodiumSha256(data.data() + 1, n);
        ASSERT_EQ(tqm::detail::sha256HexWith(Sha256Path::ShaExtensions, data.data() + 1, n), want) << n;
    }
    if (!tqm::detail::sha256HasShaExtensions()) GTEST_LOG_(INFO) << "this CPU has no SHA extensions";
}

TEST(NowUtc, Format) {
    EXPECT_TRUE(std::regex_match(tqm::nowUtc(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
}

