#pragma once
// Integers read from catalog-side JSON documents: truncated toward zero, saturating at the
// ends of the range; a missing value, another kind or NaN gives 0.
#include <cstdint>

#include "json/json.h"

namespace tqm {

int32_t jsonRoundInt32(const lumo::Json& v);  // rounded half away from zero instead
int64_t jsonInt64(const lumo::Json& v);
uint64_t jsonUint64(const lumo::Json& v);  // negative values give 0

}  // namespace tqm
