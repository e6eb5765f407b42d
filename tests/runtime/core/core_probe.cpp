// core_probe: drives pieces of the run-time core that today's lumba_run cannot reach yet (a
// running program, a restart status, the log at chosen levels, the soft-key sets), linked with
// the same libraries as lumba_run. Run inside a test site (lumba_test::Site::run).
//
//   core_probe log LUMBA BASIC ITEM...      ITEM is l:LEVEL:TEXT (run-time line), b:LEVEL:TEXT
//                                           (program line), i:LEVEL:TEXT (IMLOG), t:TEXT (TPRINT)
//   core_probe finish STATUS IMAGE ARG...   finish(STATUS) with IMAGE and IMAGE ARG... to re-execute
//   core_probe wait                         a "running program": the safe point in a loop
//   core_probe softkeys PATH NAME...        loads the sets, prints them and looks the names up
//   core_probe report KIND TEXT [LEVEL]     Message, Warn, Email, Debug, Xerror110, Xerror200,
//                                           Assert, ReturningSink (Abort under a sink that
//                                           returns) or OutOfMemory (a std::bad_alloc nothing
//                                           catches) with TEXT, at run-time log level LEVEL (2)
//   core_probe logstarts N                  the log's start-up preparation N times over
//   core_probe signals SIG...               the catcher installed, the signals (numbers) raised in
//                                           that order, then the safe point
//   core_probe unloaded                     COMMON made (named after $PID), then a fault (SIGSEGV)
//                                           while the current application is one already unloaded
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "applications.h"
#include "common_block.h"
#include "gdata.h"
#include "message.h"
#include "report_sink.h"
#include "run_time.h"
#include "signals.h"
#include "softkeys.h"

namespace {

void setup(int lumba_level, int basic_level)
{
    Back_ground = 1;
    Lumba_Log_Level = lumba_level;
    Basic_Log_Level = basic_level;
    PPATH = g_strdup(PPATH_ROOT);
    apps_PATH = g_strdup(APPS_ROOT);
    setenv("PPATH", PPATH, 1);
    global_data = global_data_init(&_global_data);
}

int log_items(int argc, char **argv)
{
    setup(std::atoi(argv[2]), std::atoi(argv[3]));
    for (int i = 4; i < argc; ++i) {
        const char kind = argv[i][0];
        if (kind == 't') {
            mlog_do_tprint(argv[i] + 2);
            continue;
        }
        char *text = nullptr;
        const int level = static_cast<int>(std::strtol(argv[i] + 2, &text, 10));
        ++text;  // the colon before the text
        if (kind == 'l') _mlog(1, level, "%s", text);
        if (kind == 'b') _mlog_basic(1, level, "%s", text);
        if (kind == 'i') mlog_imlog(2, level, text, std::strlen(text));
    }
    return 0;
}

int restart(int argc, char **argv)
{
    setup(-1, -1);
    IMAGE = g_strdup(argv[3]);
    static std::vector<char *> args;
    for (int i = 3; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    Command_args = args.data();
    DPATH = std::getenv("DPATH");
    finish(std::atoi(argv[2]));
}

int wait_for_signal()
{
    setup(-1, -1);
    install_sigcatcher();
    std::printf("ready\n");
    std::fflush(stdout);
    for (int i = 0; i < 30000; ++i) {
        check_signals();
        usleep(1000);
    }
    return 3;
}

int softkeys(int argc, char **argv)
{
    setup(-1, -1);
    std::printf("%d\n", LoadKeySets(argv[2]));
    for (KeySet_t *set = keysets; set; set = set->next) {
        std::printf("%s|%x", set->name, static_cast<unsigned>(set->defined));
        for (int k = 0; k < NUM_SOFTKEYS; ++k)
            if (set->labels[k]) std::printf("|%d=%s", k, set->labels[k]);
        std::printf("\n");
    }
    std::printf("default=%s\n", default_keyset() ? default_keyset()->name : "(none)");
    for (int i = 3; i < argc; ++i) {
        KeySet_t *found = FindKeySet(argv[i]);
        std::printf("find %s=%s\n", argv[i], found ? (found->labels[1] ? found->labels[1] : "") : "(none)");
    }
    freekeysets();
    std::printf("after free=%s\n", keysets ? "sets" : "none");
    return 0;
}

int report(int argc, char **argv)
{
    setup(argc > 4 ? std::atoi(argv[4]) : 2, -1);
    const std::string kind = argv[2];
    const char *text = argv[3];
    if (kind == "Message") Message("%s", text);
    if (kind == "Warn") Warn("%s", text);
    if (kind == "Email") Email(nullptr, "%s", text);
    if (kind == "Debug") Debug("%s", text);
    if (kind == "Xerror110") {
        try {
            Xerror(TRAPPABLE_ERROR, "%s", text);
        } catch (const BailOut &) {
            std::printf("bail out, ERR_REG=%d, n_errors=%d\n", ERR_REG, n_errors);
        }
    }
    if (kind == "Xerror200") Xerror(200, "%s", text);
    if (kind == "Assert") PROGRAM_ASSERT(text == nullptr);
    if (kind == "OutOfMemory") {
        // As lumba_main starts; then an allocation fails and nothing catches it.
        report_unhandled_allocation_failures();
        throw std::bad_alloc();
    }
    if (kind == "ReturningSink") {
        set_report_sink([](const Report &) {});
        Abort("%s", text);
    }
    return 0;
}

int log_starts(int count)
{
    setup(-1, -1);
    for (int i = 0; i < count; ++i) mlog_init(global_data->log_file);
    return 0;
}

int raise_signals(int argc, char **argv)
{
    setup(-1, -1);
    install_sigcatcher();
    for (int i = 2; i < argc; ++i) raise(std::atoi(argv[i]));
    check_signals();
    std::printf("no signal acted on\n");
    return 3;
}

// A routine of an application unloaded under it leaves the current application pointing at the
// freed record: the fatal report of the fault that follows must not read it.
int fault_under_unloaded_application()
{
    setup(-1, -1);
    AddApplication("kept__A");
    Application_t *gone = AddApplication("gone__A");
    current_application = gone;
    common_declare(1, 0);
    std::printf("common %s\n", Common_variables ? "made" : "missing");
    std::fflush(stdout);
    DeleteApplication(gone);
    current_application = gone;
    install_sigcatcher();
    std::raise(SIGSEGV);
    std::printf("no report\n");
    return 3;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "log" && argc >= 4) return log_items(argc, argv);
    if (command == "finish" && argc >= 4) return restart(argc, argv);
    if (command == "wait") return wait_for_signal();
    if (command == "softkeys" && argc >= 3) return softkeys(argc, argv);
    if (command == "report" && (argc == 4 || argc == 5)) return report(argc, argv);
    if (command == "logstarts" && argc == 3) return log_starts(std::atoi(argv[2]));
    if (command == "signals" && argc >= 3) return raise_signals(argc, argv);
    if (command == "unloaded") return fault_under_unloaded_application();
    std::fprintf(stderr, "usage: core_probe log|finish|wait|softkeys|report|logstarts|signals|unloaded ...\n");
    return 2;
}
