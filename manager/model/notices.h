#pragma once
// The licence notices of the software the manager is built from, as one text.
#include <string>

namespace tqapp {

// Built once on first use and kept until the program ends; every call gives the same object.
const std::string& thirdPartyNotices();

}  // namespace tqapp
