// libFuzzer target for the object loader: every input is written to a file named "prog" and
// loaded into a fresh context. A damaged file must end in the loader's own fatal message (the
// throwing report sink of test_report_sink.cpp), never in a crash, an overrun or a hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include <glib.h>

#include "applications.h"
#include "globals.h"
#include "interp.h"
#include "loader.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "run_time.h"
#include "test_host.h"
#include "value_stack.h"

namespace {

std::string object_path;

void delete_all_applications()
{
    ++last_ap_delete_ok;
    while (applications) {
        applications->busy = 0;
        DelApplication(applications->name, applications->owner_window);
    }
    last_ap_delete_ok = 0;
    current_application = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char *dir = g_dir_make_tmp("lumba-fuzz-XXXXXX", nullptr);
    object_path = std::string(dir) + "/prog";  // the compiled-in name the seeds carry
    g_free(dir);
    AcquireKeys();
    phase = loading;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (!g_file_set_contents(object_path.c_str(), reinterpret_cast<const char *>(data),
                             static_cast<gssize>(size), nullptr))
        return 0;
    object = object_path.data();
    auto *context = Calloc(1, Interp_t);
    context->Stk = Calloc(STACKSIZE, Stack);
    try {
        LoadCode(context);
    } catch (const lumba_test::AbortError &) {
    }
    bool owned = false;
    for (Application_t *ap = applications; ap; ap = ap->next) owned |= ap->app && ap->app->interp == context;
    delete_all_applications();
    if (!owned) {
        DPS_FREE(context->Stk);
        sfree(context);
    }
    FreeLoadedprogramname();
    return 0;
}
