// The documents library's registration with the dispatchers: the SBR XML import. Linked whole into
// every program that links the library (see the CMake file).
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "sbr_case.h"

namespace {

const bool registered = [] {
    register_numeric_intrinsic(in_ISBRXMLPARSE, isbrxmlparse);
    return true;
}();

} // namespace
