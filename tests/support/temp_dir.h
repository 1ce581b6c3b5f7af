#pragma once
// The tests' temporary folders: support/temp_dir.h.
#include "support/temp_dir.h"

namespace testsupport {
using support::TempDir;
}  // namespace testsupport
