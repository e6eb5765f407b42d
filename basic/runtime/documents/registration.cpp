// The documents' registration: the print intrinsics with the dispatchers, and with the forms
// engine the release of the print handles left on a freed control matrix. Linked whole into every
// program that links the library (see the CMake file).
#include <utility>

#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "kinds.h"
#include "print_handles.h"

namespace {

const bool registered = [] {
    CmResourceHooks resources = cm_resources();
    resources.free_print_handles = free_print_handles;
    register_cm_resources(resources);
    // IPSPRINT's replay is not built yet: its row stays empty ("IPSPRINT not available").
    for (auto [code, handler] : {
             std::pair<int, StatementIntrinsic>{in_IPSCLOSE, ipsclose},
             {in_IPSCREATE, ipscreate},
             {in_IPSDESTROY, ipsdestroy},
             {in_IPSFOOTER, ipsfooter},
             {in_IPSHEADER, ipsheader},
             {in_IPSOPEN, ipsopen},
             {in_IPSWRITE, ipswrite},
         })
        register_statement_intrinsic(code, handler);
    return true;
}();

} // namespace
