// The notes' registration: the note field's kind with the forms engine and its intrinsics with the
// dispatchers. Linked whole into every program that links the library (see the CMake file).
#include "gnote_field.h"
#include "intrinsic_dispatch.h"

namespace {

const bool registered = [] {
    gnote_register_kind();
    register_intrinsic_rows(gnote_field_intrinsics());
    return true;
}();

} // namespace
