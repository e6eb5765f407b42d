// The module loader: a module in the build tree's module directory gives its entry table; a
// module that is missing, broken or without the entry stops the run with a text naming it.
#include <gtest/gtest.h>

#include <string>

#include "modules.h"
#include "test_host.h"
#include "test_module.h"

using lumba_test::abort_text;

TEST(Modules, AModuleGivesItsEntryTable)
{
    const auto &table = module_table<TestModule>("lumba-test-module.so", "lumba_test_module", "Test module");
    EXPECT_EQ(table.answer, 42);
    // A second use finds the module already loaded.
    EXPECT_EQ(&module_table<TestModule>("lumba-test-module.so", "lumba_test_module", "Test module"), &table);
}

TEST(Modules, WhatCannotBeLoadedStopsTheRunNamingIt)
{
    const std::string built = LUMBA_BUILD_MODULE_DIR;
    struct {
        const char *file;
        const char *entry;
        std::string message;
    } cases[] = {
        {"lumba-none.so", "lumba_none",
         "Test module not available: lumba-none.so not found (looked for " + std::string(LUMBA_INSTALLED_MODULE_DIR) +
             "/lumba-none.so, " + built + "/lumba-none.so)"},
        {"lumba-test-module.so", "lumba_other",
         "Test module not available: " + built + "/lumba-test-module.so: undefined symbol: lumba_other"},
        {"lumba-test-broken.so", "lumba_test_module",
         "Test module not available: " + built + "/lumba-test-broken.so: invalid ELF header"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(abort_text([&] { load_module(c.file, c.entry, "Test module"); }), c.message) << c.file;
}
