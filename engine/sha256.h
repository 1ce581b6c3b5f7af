#pragma once
// SHA-256 with two block functions: the portable one and, on x86 CPUs that offer them, one on the
// SHA extensions. sha256Hex (util.h) takes the fastest the CPU has; tests compare the two.
#include <atomic>
#include <cstddef>
#include <string>

namespace tqm::detail {

enum class Sha256Path { Portable, ShaExtensions };

// True when this CPU (CPUID) and build can run the SHA-extension path.
bool sha256HasShaExtensions();

// SHA-256 through the given path as 64 lower-case hexadecimal digits; ShaExtensions falls back to
// the portable path where the CPU lacks them.
std::string sha256HexWith(Sha256Path path, const void* data, size_t size);

// Seam for tests that count what is hashed: when set, sha256Hex calls it with each input's size
// before it hashes. Set and cleared while no other thread hashes through it.
extern std::atomic<void (*)(size_t size)> sha256Watch;

}  // namespace tqm::detail
