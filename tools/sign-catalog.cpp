// sign-catalog: makes a key pair and signs "catalog.json" into "catalog.json.sig".
//   sign-catalog keygen <secret-key-file>   writes a new secret key (hex) into a new file, prints its public key
//   sign-catalog pub <secret-key-file>      prints the public key of a secret key
//   sign-catalog sign <secret-key-file> <catalog.json> [<signature-file>]
//                                           writes the Base64 signature (default: the catalog name + ".sig")
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tools/catalog_signing.h"

namespace {

bool readAll(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
    out.close();
    return bool(out);
}

bool loadSecret(const std::string& path, std::string& secret) {
    std::string hex;
    if (!readAll(path, hex)) {
        std::cerr << "sign-catalog: cannot read " << path << "\n";
        return false;
    }
    secret = catalogsign::fromHex(hex);
    if (secret.size() != crypto_sign_SECRETKEYBYTES) {
        std::cerr << "sign-catalog: " << path << " holds no secret key\n";
        return false;
    }
    return true;
}

int usage() {
    std::cerr << "usage: sign-catalog keygen <secret-key-file>\n"
                 "       sign-catalog pub <secret-key-file>\n"
                 "       sign-catalog sign <secret-key-file> <catalog.json> [<signature-file>]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1], keyFile = argv[2];
    if (sodium_init() < 0) {
        std::cerr << "sign-catalog: libsodium did not start\n";
        return 1;
    }
    if (command == "keygen" && argc == 3) {
        const catalogsign::KeyPair k = catalogsign::makeKeyPair();
        // A new file only, readable by its owner only: an existing key is never overwritten.
        const std::string text = catalogsign::toHex(k.secretKey) + "\n";
        const int fd = ::open(keyFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            std::cerr << "sign-catalog: " << keyFile << " exists already; a key file is never overwritten\n";
            return 1;
        }
        bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
        if (fd >= 0 && ::close(fd) != 0) ok = false;
        if (!ok) {
            std::cerr << "sign-catalog: cannot write " << keyFile << "\n";
            return 1;
        }
        std::cout << catalogsign::toHex(k.publicKey) << "\n";
        return 0;
    }
    std::string secret;
    if (command == "pub" && argc == 3) {
        if (!loadSecret(keyFile, secret)) return 1;
        std::cout << catalogsign::toHex(catalogsign::publicOf(secret)) << "\n";
        return 0;
    }
    if (command == "sign" && (argc == 4 || argc == 5)) {
        if (!loadSecret(keyFile, secret)) return 1;
        const std::string catalog = argv[3];
        const std::string sigFile = argc == 5 ? std::string(argv[4]) : catalog + ".sig";
        std::string text;
        if (!readAll(catalog, text)) {
            std::cerr << "sign-catalog: cannot read " << catalog << "\n";
            return 1;
        }
        if (!writeAll(sigFile, catalogsign::signBase64(secret, text) + "\n")) {
            std::cerr << "sign-catalog: cannot write " << sigFile << "\n";
            return 1;
        }
        return 0;
    }
    return usage();
}
