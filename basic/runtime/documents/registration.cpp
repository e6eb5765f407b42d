// The documents' registration: the print and OpenDocument intrinsics and the SBR XML import with
// the dispatchers, with the forms engine the release of the print handles left on a freed control
// matrix, and with the core the release of the document-insertion handles an application leaves
// behind. Linked whole into every program that links the library (see the CMake file).
#include "gdrill.h"
#include "hooks.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "kinds.h"
#include "odf_insert.h"
#include "print_handles.h"
#include "ps_replay.h"
#include "sbr_case.h"

namespace {

// These run in background mode too: reports and imports are made by batch programs. Each handler
// checks its argument count with its own message.
constexpr IntrinsicRow document_rows[] = {
    {in_IPSCLOSE, ipsclose},   {in_IPSCREATE, ipscreate}, {in_IPSDESTROY, ipsdestroy},
    {in_IPSFOOTER, ipsfooter}, {in_IPSHEADER, ipsheader}, {in_IPSOPEN, ipsopen},
    {in_IPSPRINT, ipsprint},   {in_IPSWRITE, ipswrite},   {in_ISBRXMLPARSE, isbrxmlparse},
};

// The drill window needs a window system; IGDRILL_SETUP takes exactly its nine arguments.
constexpr IntrinsicRow drill_rows[] = {
    {in_IGDRILL, gdrill, ANY_COUNT, WINDOWS_ONLY},
    {in_IGDRILL_SETUP, gdrill_setup, exactly(9), WINDOWS_ONLY},
};

// A handle the program already destroyed is not touched again.
void release_left_over(std::uintptr_t number)
{
    if (InsertOoHandle_t *handle = insert_oo_find_handle(number)) insert_oo_free_handle(handle);
}

const bool registered = [] {
    CmResourceHooks resources = cm_resources();
    resources.free_print_handles = free_print_handles;
    register_cm_resources(resources);
    register_intrinsic_rows(document_rows);
    register_intrinsic_rows(insert_oo_intrinsics());
    register_intrinsic_rows(drill_rows);
    gdrill_register_kind();
    register_insertion_handle_release(release_left_over);
    return true;
}();

} // namespace
