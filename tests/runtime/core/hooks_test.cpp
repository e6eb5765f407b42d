// The core on its own, linked without any subsystem above it: every hook answers with its
// default, "nothing open" or the "... not available" stop a user would see. That this program
// links at all shows that the core names nothing of a higher layer.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "gdata.h"
#include "hooks.h"
#include "intrinsics.h"
#include "stack.h"
#include "test_host.h"

using lumba_test::abort_text;

TEST(CoreHooks, DefaultsStopWithTheTextAUserWouldSee)
{
    Stack result{};
    struct {
        const char *name;
        std::function<void()> call;
        std::string message;
    } cases[] = {
        {"numeric intrinsic", [&] { intrinsic_calls().numeric(&result, 5, 0, -1); },
         "Bad real function intrinsic code - 5"},
        {"string intrinsic", [&] { intrinsic_calls().string(&result, 6, 0, -1); }, "Bad string intrinsic code - 6"},
        {"statement intrinsic", [] { intrinsic_calls().statement(7, 0, -1); }, "Bad c-intrinsic code - 7"},
        {"I/O parameter", [] { intrinsic_calls().io_parameter(1, 0); }, "File channels not available"},
        {"I/O statement", [] { intrinsic_calls().io_statement(1, 0, -1, nullptr); }, "File channels not available"},
        {"crash dump", [] { run_hook(CoreHook::take_dump); }, "Crash dump not available"},
        {"question", [] { window_hooks().question("?", "_No", "_Yes"); }, "Message dialogs not available"},
    };
    for (const auto &c : cases) EXPECT_EQ(abort_text(c.call), c.message) << c.name;
}

TEST(CoreHooks, DefaultsFindNothingOpen)
{
    EXPECT_FALSE(intrinsic_calls().io_traps_set());
    EXPECT_EQ(intrinsic_calls().io_trap_label(), nullptr);
    // Without the dispatchers every string argument is copied.
    for (int code = 0; code < IN_ROWS; ++code) EXPECT_FALSE(intrinsic_calls().reads_text_only[code]) << code;
    EXPECT_EQ(open_transactions(), 0);
    EXPECT_EQ(abort_text([] { app_memory_released(nullptr); }), "");
    for (CoreHook h : {CoreHook::start_file_channels, CoreHook::start_child_slots, CoreHook::close_file_channels,
                       CoreHook::free_db_results, CoreHook::free_db_connections, CoreHook::close_directory,
                       CoreHook::application_deleted, CoreHook::free_tls_config})
        EXPECT_EQ(abort_text([&] { run_hook(h); }), "") << static_cast<int>(h);
    intrinsic_calls().io_reset();

    // Control matrices: none on the chain is nothing to free; one there cannot be freed.
    GlobalData_t record{};  // the chain is all the hook looks at
    global_data = &record;
    EXPECT_EQ(abort_text([] { run_hook(CoreHook::free_control_matrices); }), "");
    record.first_cm = reinterpret_cast<ControlMatrix_t *>(&record);
    EXPECT_EQ(abort_text([] { run_hook(CoreHook::free_control_matrices); }), "Control matrices not available");
    global_data = nullptr;

    char *help = window_hooks().app_option_help();
    ASSERT_NE(help, nullptr);
    EXPECT_STREQ(help, "");
    g_free(help);
}

TEST(CoreHooks, RegisteringReturnsWhatItReplaces)
{
    static int dumps;
    const HookFunction standard = register_hook(CoreHook::take_dump, [] { ++dumps; });
    run_hook(CoreHook::take_dump);
    EXPECT_EQ(dumps, 1);
    register_hook(CoreHook::take_dump, standard);
    EXPECT_EQ(abort_text([] { run_hook(CoreHook::take_dump); }), "Crash dump not available");

    const TransactionQuery none = register_transaction_query([] { return 2; });
    EXPECT_EQ(open_transactions(), 2);
    EXPECT_EQ(register_transaction_query(none)(), 2);
    EXPECT_EQ(open_transactions(), 0);

    static const AppMemory_t *released;
    const AppMemoryRelease forget = register_app_memory_release([](const AppMemory_t *m) { released = m; });
    const auto *mem = reinterpret_cast<const AppMemory_t *>(&released);
    app_memory_released(mem);
    EXPECT_EQ(released, mem);
    register_app_memory_release(forget);
    app_memory_released(nullptr);
    EXPECT_EQ(released, mem) << "the default remembers nothing";
}
