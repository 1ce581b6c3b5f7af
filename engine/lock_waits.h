#pragma once
// How long the install engine waits for each of its locks (the table in engine/install_folder.h
// says which lock and who waits): here, below everything that waits, so that no header below the
// protocol's has to include it.
#include <chrono>

namespace tqm {

constexpr std::chrono::milliseconds kJobLockWait{10 * 60 * 1000};
constexpr std::chrono::milliseconds kReceiptLockWait{30000};
constexpr std::chrono::milliseconds kStartLockWait{1000};

}  // namespace tqm
