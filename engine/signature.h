#pragma once
// Detached ed25519 signatures of the catalog text.
#include <string>

namespace tqm {

// True when one of the comma-separated public keys (64 hexadecimal digits each) verifies the
// Base64 signature over the exact text; error is then left alone. False with one message.
bool verifySignature(const std::string& text, const std::string& signature, const std::string& keys,
                     std::string& error);

// The public keys built into the program, comma-separated.
const std::string& builtinKeys();

}  // namespace tqm
