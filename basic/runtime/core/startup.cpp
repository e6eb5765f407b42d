// Start-up of lumba_run: options, user, paths, log, GTK, object choice, soft keys, signals,
// environment numbers, then the first program.
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <gtk/gtk.h>
#include <pwd.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "contexts.h"
#include "gdata.h"
#include "globals.h"
#include "hooks.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "objfile.h"
#include "report_sink.h"
#include "run_time.h"
#include "signals.h"
#include "softkeys.h"
#include "startup.h"

int Back_ground;
char *Class;
int make_dump;
int oska_do_cp_check;
int oska_do_test;
char *Oska_user;
int Basic_Log_Level = -1;
int Lumba_Log_Level = -1;
char *OAE_Geometry;
char *OAE_Option;
char *x2go_sid;
char *IMAGE;
char *Interp_name;
char *Program;
char *PPATH;
char *apps_PATH;
char apps_version[64];
char HELPER_SCRIPT[PATH_VAR_SIZE];
char CONF_ROOT[PATH_VAR_SIZE], OPAUSE[PATH_VAR_SIZE], OREPORT[PATH_VAR_SIZE], OSKAMAN[PATH_VAR_SIZE],
    OSKA_LOG[PATH_VAR_SIZE], PRINT_SCREEN[PATH_VAR_SIZE], STTY_OSKA[PATH_VAR_SIZE], XTERM[PATH_VAR_SIZE];
char MANUAL_NAME[MANUAL_SIZE];
char MANUAL_SECTION[MANUAL_SIZE];
int Session_leader;
int Session_group;
char *DPATH;
std::int32_t max_files, M_env, C_env, S_env, T_env;
char **Command_args;
int ARGC;
char *ARGV;
int ARGV_width;
char *object;
struct passwd *pwent;
int n_errors;
const char *Rname;
int EXIT_STAT;
volatile int has_signal;
int Dump_available;
dec_t ZERO_DEC;

namespace {

gboolean issue_flag;
gboolean version_flag;
gboolean fatal_warnings;
char **parameters;
char object_path[OBJECT_ARG_SIZE];

void set_allocator_environment()
{
    setenv("TCMALLOC_SAMPLE_PARAMETER", "524288", 1);
    setenv("TCMALLOC_RELEASE_RATE", "9.9", 1);
    setenv("TCMALLOC_MAX_TOTAL_THREAD_CACHE_BYTES", "1048576", 1);
}

void unlimit_core()
{
    struct rlimit rl{RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_CORE, &rl) != 0)
        std::fprintf(stderr, "setrlimit: %s\nWarning: core dumps may be truncated or non-existant\n",
                     std::strerror(errno));
}

void parse_options(int *argc, char ***argv)
{
    char *oaa_help = window_hooks().app_option_help();
    if (!oaa_help) {
        std::fputs("Unable to allocate memory (3)\n", stderr);
        finish(1);
    }
    const GOptionEntry main_entries[] = {
        {"background", 'b', 0, G_OPTION_ARG_NONE, &Back_ground, "Run in background mode", nullptr},
        {"originname", 'C', 0, G_OPTION_ARG_STRING, &Class, "Set interpreter origin name", "some_string"},
        {"issue", 'i', 0, G_OPTION_ARG_NONE, &issue_flag, "Print Issue and exit", nullptr},
        {"dump", 'd', 0, G_OPTION_ARG_NONE, &make_dump, "Ask to make a core dump if needed", nullptr},
        {"stack", 's', 0, G_OPTION_ARG_NONE, &oska_do_cp_check, "Evaluate stack items before copy (for developers)",
         nullptr},
        {"test", 't', 0, G_OPTION_ARG_NONE, &oska_do_test, "Alter gmessage title for automatic tests", nullptr},
        {"user", 'u', 0, G_OPTION_ARG_STRING, &Oska_user,
         "user to execute under (requires be run under sudo to be able to switch)", nullptr},
        {"version", 'e', 0, G_OPTION_ARG_NONE, &version_flag, "Print Version and Revision and exit", nullptr},
        {G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_STRING_ARRAY, &parameters, "Remaining args", nullptr},
        {},
    };
    const GOptionEntry oska_entries[] = {
        {"geometry", 'G', 0, G_OPTION_ARG_STRING, &OAE_Geometry,
         "device window geometry in pixels; WWW - width; HHH - height", "[WWWxHHH]"},
        {"app_option", 'a', 0, G_OPTION_ARG_STRING, &OAE_Option, oaa_help, "[wxyz]"},
        {"x2go_sid", 'x', 0, G_OPTION_ARG_STRING, &x2go_sid, "x2go session id from Oska x2go client",
         "[assigned automatically]"},
        {},
    };
    const GOptionEntry verbosity_entries[] = {
        {"basic-verbose", 'v', 0, G_OPTION_ARG_INT, &Basic_Log_Level, "Run with this level of basic debug enabled",
         nullptr},
        {"lumba-verbose", 'w', 0, G_OPTION_ARG_INT, &Lumba_Log_Level, "Run with this level of basic debug enabled",
         nullptr},
        {},
    };
    const GOptionEntry gtk_entries[] = {
        {"g-fatal-warnings", 0, 0, G_OPTION_ARG_NONE, &fatal_warnings, "Make all warnings fatal", nullptr},
        {},
    };

    GOptionContext *context = g_option_context_new("[path_to_app|appname unit# [arg1 arg2 ... to app]]");
    GOptionGroup *oska = g_option_group_new("oska", "Oska Application options",
                                            "Options specifically effecting the Oska Application", nullptr, nullptr);
    g_option_group_add_entries(oska, oska_entries);
    g_option_context_add_group(context, oska);
    GOptionGroup *verbosity =
        g_option_group_new("verbosity", "Console Logging Debug Verbosity options",
                           "Options specifically effecting the Logging Debug Verbosity", nullptr, nullptr);
    g_option_group_add_entries(verbosity, verbosity_entries);
    g_option_context_add_group(context, verbosity);
    GOptionGroup *gtk = g_option_group_new("gtk", "GTK related options", "Options to alter default GTK settings",
                                           nullptr, nullptr);
    g_option_group_add_entries(gtk, gtk_entries);
    g_option_context_add_group(context, gtk);
    g_option_context_add_main_entries(context, main_entries, "UTF-8");

    GError *error = nullptr;
    gboolean ok = g_option_context_parse(context, argc, argv, &error);
    g_option_context_free(context);
    g_free(oaa_help);
    if (!ok) {
        std::fprintf(stderr, "%s \n", error->message);
        g_error_free(error);
        finish(1);
    }
}

// Runs as the named user: its groups first, then the group, then the user id.
void switch_user(const char *name)
{
    struct passwd *pw = getpwnam(name);
    if (!pw) {
        std::fprintf(stderr, "No user record found for '%s' specified in -u switch\n", name);
        finish(1);
    }
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;
    if (initgroups(name, gid) != 0 || setgid(gid) != 0 || setuid(uid) != 0 || getuid() != uid ||
        geteuid() != uid) {
        std::fprintf(stderr, "Unable to switch to '%s', perhaps you ned to rerun under sudo\n", name);
        finish(1);
    }
    std::fprintf(stderr, "Switched to '%s' user\n", name);
}

// The first line of a site file, or false when it cannot be opened.
bool first_line(const std::string &path, char *buffer, int size)
{
    FILE *file = std::fopen(path.c_str(), "re");
    if (!file) return false;
    if (!std::fgets(buffer, size, file)) buffer[0] = '\0';
    std::fclose(file);
    return true;
}

void read_apps_version()
{
    apps_version[0] = '\0';
    if (!first_line(std::string(apps_PATH) + "/tag.txt", apps_version, 64)) {
        oska_do_cp_check = 1;
        char revno[62] = "";
        if (first_line(std::string(apps_PATH) + "/revno.txt", revno, sizeof revno))
            std::snprintf(apps_version, sizeof apps_version, "r.%s", revno);
    }
    // The version ends at the first control character, blank, '-' or non-ASCII byte.
    for (char &c : apps_version)
        if (static_cast<unsigned char>(c) <= 45 || static_cast<unsigned char>(c) >= 128) c = '\0';
}

// GTK starts threads that read the environment (gettext through GLib's key files, for one). A
// variable added while they run makes setenv move the environment's array, freeing the one they
// are reading. The variables the run-time sets once GTK runs are therefore made here first, so
// that setting them later only replaces a value: the application area's, set from the monitor
// once the display is open.
void reserve_environment()
{
    for (const char *name : {"OAE_APP_WIDTH", "OAE_APP_HEIGHT"})
        if (!std::getenv(name)) setenv(name, "", 1);
}

void init_gtk()
{
    reserve_environment();
    gtk_init();
    watch_display();
    GtkSettings *settings = gtk_settings_get_default();
    g_object_set(settings, "gtk-font-name", "Sans 9", "gtk-xft-hinting", 1, "gtk-xft-hintstyle", "hintslight",
                 "gtk-xft-rgba", "vrgb", "gtk-xft-antialias", 1, "gtk-xft-dpi", -1, nullptr);
    char *theme = nullptr;
    gboolean dark = FALSE;
    g_object_get(settings, "gtk-theme-name", &theme, "gtk-application-prefer-dark-theme", &dark, nullptr);
    std::fprintf(stderr, "** Theme name: %s; prefer dark theme: %d\n", theme ? theme : "(null)", dark);
    g_free(theme);

    std::string css = std::string(PPATH) + "/conf/gtk/gtk3.css";
    GtkCssProvider *site = gtk_css_provider_new();
    gtk_css_provider_load_from_path(site, css.c_str());
    gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(site), 600);
    css = std::string(PPATH) + "/conf/gtk/gtk3-user.css";
    if (g_file_test(css.c_str(), G_FILE_TEST_IS_REGULAR)) {
        GtkCssProvider *user = gtk_css_provider_new();
        gtk_css_provider_load_from_path(user, css.c_str());
        gtk_style_context_add_provider_for_display(gdk_display_get_default(), GTK_STYLE_PROVIDER(user), 800);
        std::fprintf(stderr, "** Loaded user CSS file: %s\n", css.c_str());
    }
    if (fatal_warnings) {
        GLogLevelFlags mask = g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_FATAL_MASK));
        g_log_set_always_fatal(static_cast<GLogLevelFlags>(mask | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL));
    }
    window_hooks().apply_geometry();
}

// Object file, program name and unit from the parameters left after the options.
int choose_object()
{
    const int count = parameters ? static_cast<int>(g_strv_length(parameters)) : 0;
    int unit = 0;
    ARGC = 0;
    if (count == 0) {
        object = ObjFile(apps_PATH, "unit0/startm");
    } else if (count == 1) {
        if (std::strlen(parameters[0]) >= sizeof object_path)
            Abort("Program path longer than %d characters: %s", OBJECT_ARG_SIZE - 1, parameters[0]);
        std::strcpy(object_path, parameters[0]);
        object = object_path;
        Program = parameters[0];
    } else {
        int n = std::snprintf(object_path, sizeof object_path, "%s/apps/unit%s", PPATH, parameters[1]);
        if (n < 0 || n >= static_cast<int>(sizeof object_path))
            Abort("Program directory longer than %d characters: %s/apps/unit%s", OBJECT_ARG_SIZE - 1, PPATH,
                  parameters[1]);
        object = ObjFile(object_path, parameters[0]);
        unit = std::atoi(parameters[1]);
        ARGC = count - 2;
        Program = parameters[0];
    }
    std::snprintf(MANUAL_NAME, sizeof MANUAL_NAME, "%02d1", unit);
    std::snprintf(MANUAL_SECTION, sizeof MANUAL_SECTION, "%s", Program);
    return count;
}

void set_site_paths()
{
    std::snprintf(CONF_ROOT, PATH_VAR_SIZE, "%s/conf", PPATH);
    std::snprintf(OPAUSE, PATH_VAR_SIZE, "%s/bin/Opause", PPATH);
    std::snprintf(OREPORT, PATH_VAR_SIZE, "%s/bin/Oreport", PPATH);
    std::snprintf(OSKAMAN, PATH_VAR_SIZE, "%s/bin/Oskaman", PPATH);
    std::snprintf(OSKA_LOG, PATH_VAR_SIZE, "%s/log/errorlog", PPATH);
    std::snprintf(PRINT_SCREEN, PATH_VAR_SIZE, "%s/bin/print.screen", PPATH);
    std::snprintf(STTY_OSKA, PATH_VAR_SIZE, "%s/bin/stty.oska", PPATH);
    std::snprintf(XTERM, PATH_VAR_SIZE, "%s/bin/xterm", PPATH);
}

void read_environment_numbers()
{
    env_num(&max_files, "F");
    if (max_files < 0) Abort("Environment variable %s ill-formed", "F");
    if (max_files == 0) max_files = MAX_FILES;
    if (max_files > MAX_FILES) {
        max_files = MAX_FILES;
        Abort("F environment variable exceeds %d", MAX_FILES);
    }
    env_num(&M_env, "M");
    env_num(&C_env, "C");
    env_num(&S_env, "S");
    env_num(&T_env, "T");
}

// The program arguments as one text of ARGC blank-padded elements of the longest one's width.
void build_program_arguments(int count)
{
    if (count < 3) return;
    std::size_t width = 0;
    for (int i = 2; i < count; ++i) width = std::max(width, std::strlen(parameters[i]));
    ARGV_width = static_cast<int>(width);
    ARGV = static_cast<char *>(salloc(width * static_cast<std::size_t>(ARGC) + 1));
    std::memset(ARGV, ' ', width * static_cast<std::size_t>(ARGC));
    ARGV[width * static_cast<std::size_t>(ARGC)] = '\0';
    for (int i = 2; i < count; ++i)
        std::memcpy(ARGV + width * static_cast<std::size_t>(i - 2), parameters[i], std::strlen(parameters[i]));
}

// Steps after the bail-out point: everything that reports through Abort.
[[noreturn]] void start_program(char **argv)
{
    AcquireKeys();
    phase = initializing;
    DPATH = std::getenv("DPATH");
    Rname = nullptr;
    const int count = choose_object();

    umask(002);
    if (count == 0) {
        setsid();
        if (setregid(getegid(), static_cast<gid_t>(-1)) != 0) {}
        Session_leader = 1;
    }
    Session_group = static_cast<int>(getpgrp());
    set_site_paths();

    std::string softkeys = std::string(CONF_ROOT) + "/softkeys";
    if (LoadKeySets(softkeys.c_str()) < 1) Abort("Unable to load softkey labels - fn %s", softkeys.c_str());

    char pid[32];
    std::snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
    setenv("PID", pid, 1);
    install_sigcatcher();
    check_signals();

    read_environment_numbers();
    check_signals();

    run_hook(CoreHook::start_file_channels);
    run_hook(CoreHook::start_child_slots);
    ZERO_DEC = dec_t{0, 1, 0, {}};
    Command_args = argv;
    build_program_arguments(count);
    pwent = getpwuid(getuid());
    n_errors = 0;
    Rname = nullptr;
    phase = loading;
    Dump_available = 0;
    check_signals();
    run_first_program(Class ? Class : "");
}

} // namespace

int lumba_main(int argc, char **argv)
{
    report_unhandled_allocation_failures();
    set_allocator_environment();
    unlimit_core();
    std::setlocale(LC_CTYPE, "");
    x2go_sid = g_strdup(" ");
    parse_options(&argc, &argv);
    if (Oska_user) switch_user(Oska_user);
    if (issue_flag) {
        std::printf("OSKA Run-time system:   ISSUE %s (Revision %s)\n", LUMBA_ISSUE, LUMBA_REVISION);
        finish(0);
    }
    if (version_flag) {
        std::printf("OSKA Run-time system\nVersion:  %s\nRevision: %s\n", LUMBA_VERSION, LUMBA_REVISION);
        finish(0);
    }

    IMAGE = g_strdup(argv[0]);
    const char *slash = std::strrchr(argv[0], '/');
    Interp_name = Program = g_strdup(slash ? slash + 1 : argv[0]);
    if (std::strcmp(Program, "Ocrun") == 0) {
        g_free(Program);
        Interp_name = Program = g_strdup("Oxrun");
    }
    PPATH = g_strdup(PPATH_ROOT);
    if (!PPATH || !*PPATH) {
        std::fputs("\nEmpty Invocation Path: Corrupted make: Contact Oska Support\n", stderr);
        finish(1);
    }
    apps_PATH = g_strdup(APPS_ROOT);
    if (!apps_PATH || !*apps_PATH) {
        std::fputs("\nEmpty Invocation apps_PATH: Corrupted make: Contact Oska Support\n", stderr);
        finish(1);
    }
    read_apps_version();
    setenv("PPATH", PPATH, 1);
    std::snprintf(HELPER_SCRIPT, sizeof HELPER_SCRIPT, "%s/lib/tclhelper.tcl", PPATH);

    global_data = global_data_init(&_global_data);
    if (!Back_ground) init_gtk();
    if (Lumba_Log_Level >= 0) mlog(0, "PPATH = %s", PPATH);

    try {
        start_program(argv);
    } catch (const BailOut &) {
        M_mesg("fatal", Error_vector);
        finish(1);
    }
}
