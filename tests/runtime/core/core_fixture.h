// A fixture for loader and application tests: a temporary directory for object files, contexts
// made the way start-up makes them, and every application deleted afterwards.
#pragma once

#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <cstring>
#include <string>
#include <vector>

#include "applications.h"
#include "interp.h"
#include "loader.h"
#include "run_time.h"
#include "mem_mgt.h"
#include "test_host.h"
#include "zasm_run.h"

class CoreTest : public ::testing::Test {
public:
    static void delete_all_applications()
    {
        ++last_ap_delete_ok;
        // Nothing runs any more: no program is in use.
        Minterp = nullptr;
        testing::internal::CaptureStderr();
        while (applications) {
            applications->busy = applications->running = 0;
            DelApplication(applications->name, applications->owner_window);
        }
        testing::internal::GetCapturedStderr();
        last_ap_delete_ok = 0;
        current_application = nullptr;
    }

protected:
    void SetUp() override
    {
        char *d = g_dir_make_tmp("loader-test-XXXXXX", nullptr);
        dir = d;
        g_free(d);
    }

    void TearDown() override
    {
        delete_all_applications();
        for (Interp_t *i : loose) free_context(i);
        FreeLoadedprogramname();
        for (const auto &f : files) g_unlink(f.c_str());
        g_rmdir(dir.c_str());
    }

    static void free_context(Interp_t *i)
    {
        DPS_FREE(i->Stk);
        sfree(i);
    }

    std::string path(const std::string &name)
    {
        std::string p = dir + "/" + name;
        files.push_back(p);
        files.push_back(p + ".zasm");
        return p;
    }

    // Assembles text into dir/<name>.
    std::string assemble(const std::string &text, const std::string &name = "prog.obj")
    {
        std::string p = path(name);
        lumba_test::zasm_in_process(text, p);
        return p;
    }

    // A new context, as start-up and EXECUTE make one.
    Interp_t *new_context()
    {
        auto *i = Calloc(1, Interp_t);
        i->Stk = Calloc(STACKSIZE, Stack);
        i->sp = -1;
        return i;
    }

    // Loads the object file; "" when it loaded, else the abort text.
    std::string load(const std::string &object_path, Interp_t **out = nullptr)
    {
        Interp_t *i = new_context();
        object_buffer = object_path;
        object = object_buffer.data();
        std::string error = lumba_test::abort_text([&] { LoadCode(i); });
        bool owned = false;
        for (Application_t *ap = applications; ap; ap = ap->next) owned |= ap->app && ap->app->interp == i;
        if (!owned) loose.push_back(i);
        if (out) *out = i;
        return error;
    }

    std::string load_text(const std::string &text, Interp_t **out = nullptr)
    {
        return load(assemble(text), out);
    }

    std::string dir;
    std::vector<std::string> files;
    std::vector<Interp_t *> loose;
    std::string object_buffer;  // what object points at during a load
};
