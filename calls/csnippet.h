// A recorded call as C source that makes the same library call again.
#pragma once

#include "call.h"

#include <string>

namespace zem::calls {

// A compilable C function, call_<command>(int32_t handle), that fills the
// request record with the recorded values and calls the library; it returns
// the library's result. Includes "zem.h".
std::string cSnippet(const Call &call);

} // namespace zem::calls
