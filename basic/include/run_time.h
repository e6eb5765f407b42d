// Constants and globals of the run-time: the site tree, exit statuses, version texts, and what
// start-up sets for the rest of the run-time (options, paths, environment numbers).
#pragma once

#include <cstdint>
#include <pwd.h>

#include "disamdec.h"

// Every site path derives from PPATH.
#define PPATH_ROOT "/usr/local/oska"
#define APPS_ROOT PPATH_ROOT "/apps"
#define CONF_DIR PPATH_ROOT "/conf"
#define LOG_DIR PPATH_ROOT "/log"
#define TEMP_DIR PPATH_ROOT "/temp"
#define SCRIPTS_DIR PPATH_ROOT "/scripts"
#define BIN_DIR PPATH_ROOT "/bin"

// The site data tree: the contract number and the certificates of the certificate API client.
#define OSKADATA_ROOT "/usr/local/oskadata"
// The certificate API server: connected to on port 443, and the TLS server name and Host header.
#define CERT_API_HOST "certapi.lumba-runtime.example"

// Outside programs of fatal reports.
#define MAIL_SCRIPT SCRIPTS_DIR "/mailit-mutt-noatt.sh"
#define GDB_PROGRAM "/usr/bin/gdb"
#define GDB_COMMANDS BIN_DIR "/oska-gdb-trace.cmds"
#define GDB_TARGET BIN_DIR "/lumba_run"

// Site scripts that check for and stop processes (IPROCESS_CHECK, IPROCESS_KILL); the kill
// script runs through sudo.
#define PROCESS_CHECK_SCRIPT SCRIPTS_DIR "/process_check.pl"
#define PROCESS_KILL_SCRIPT SCRIPTS_DIR "/process_kill.pl"
#define SUDO_PROGRAM "sudo"

inline constexpr int EXIT_NEWRUN = -1;  // restart with the same arguments
inline constexpr int EXIT_NEWDB = -2;   // restart with a fresh database and session environment

inline constexpr const char *LUMBA_VERSION = "15.06.111";
inline constexpr const char *LUMBA_ISSUE = "V15";
inline constexpr const char *LUMBA_REVISION = "70";

inline constexpr int MAX_FILES = 512;      // ceiling and default of the F environment number
inline constexpr int PATH_VAR_SIZE = 64;   // the fixed site-path buffers
inline constexpr int MANUAL_SIZE = 2049;
inline constexpr int OBJECT_ARG_SIZE = 96; // buffer of the object path built from the parameters

// Options.
extern int Back_ground;          // no GTK; reports go to the log
extern char *Class;              // origin name handed to the first context
extern int make_dump;            // offer a crash dump after a fatal error
extern int oska_do_cp_check;     // developer stack checks
extern int oska_do_test;         // message-box titles for automatic tests
extern char *Oska_user;          // user to run as
extern int Basic_Log_Level;      // program log level, -1 when not given
extern int Lumba_Log_Level;      // run-time log level, -1 when not given
extern char *OAE_Geometry;
extern char *OAE_Option;
extern char *x2go_sid;

// Names and paths.
extern char *IMAGE;              // argv[0], re-executed on restart
extern char *Interp_name;
extern char *Program;
extern char *PPATH;
extern char *apps_PATH;
extern char apps_version[64];
extern char HELPER_SCRIPT[PATH_VAR_SIZE];
extern char CONF_ROOT[PATH_VAR_SIZE], OPAUSE[PATH_VAR_SIZE], OREPORT[PATH_VAR_SIZE], OSKAMAN[PATH_VAR_SIZE],
    OSKA_LOG[PATH_VAR_SIZE], PRINT_SCREEN[PATH_VAR_SIZE], STTY_OSKA[PATH_VAR_SIZE], XTERM[PATH_VAR_SIZE];
extern char MANUAL_NAME[MANUAL_SIZE];
extern char MANUAL_SECTION[MANUAL_SIZE];
extern int Session_leader;
extern int Session_group;
extern char *DPATH;

// Environment numbers F, M, C, S, T.
extern std::int32_t max_files, M_env, C_env, S_env, T_env;

extern char **Command_args;      // argument vector of a restart
extern int ARGC;                 // number of program arguments
extern char *object;             // object file to load, NULL once loaded
extern struct passwd *pwent;     // password entry of the real user
extern int n_errors;             // Xerror/Syserr reports so far
extern const char *Rname;        // current routine name, NULL before execution
extern int EXIT_STAT;
extern volatile int has_signal;  // a signal was caught
extern int Dump_available;       // a crash dump may be offered
extern dec_t ZERO_DEC;

// Exit: the only way out of the process.
[[noreturn]] void finish(int status);
void finish_mem_cleanup();
// The X server has gone (the session ended, the server was killed): ends the run through finish
// with status 1, after the line "display connection lost" in the run-time log.
[[noreturn]] void display_lost();
void env_num(std::int32_t *value, const char *name);
void release_mem();
void release_shmem();
