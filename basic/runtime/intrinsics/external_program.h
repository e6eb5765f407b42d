// External programs: IEXTERNAL_PROGRAM_START runs a shell command line for a window while the
// windows stay alive and hands its whole output to the program's follow-on routine when it has
// ended; IEXTERNAL_PROGRAM_DETACH starts a command line as a daemon and returns at once.
//
// Both run the program's own text as a shell command line (that is what they are for), so a
// program must quote whatever user data it puts into one.
//
// The window side of START (the control matrix, its follow-on record, the Enter key that waits
// meanwhile and the routine run at the end) belongs to the forms engine, which sits above this
// library and hands it that part through register_external_program_hooks.
#pragma once

#include <cstddef>
#include <deque>
#include <exception>
#include <span>
#include <string>

#include <glib.h>

#include "intrinsic_dispatch.h"

struct Application_t;
struct ControlMatrix_t;
struct Routine;
struct Stack;

// One message of a job's queue: 'L' a piece of the command's output, 'E' an error of the worker
// that ends the program.
struct ExternalMessage {
    char kind;
    std::string text;
};

// One START, from the call until its follow-on routine has run. The worker thread touches only
// its job (what it writes before it posts the end is read by the GUI thread after joining it) and
// the job's queue (under data_mutex); everything else happens on the GUI thread.
struct ExternalJob_t {
    ControlMatrix_t *cm = nullptr;          // the process control matrix given by the program
    Routine *routine = nullptr;             // the follow-on routine
    Application_t *application = nullptr;   // the program's application, kept busy meanwhile
    std::string command;                    // the command line
    int exit_status = 0;                    // raw wait status of the shell, 0 until known
    const char *routine_name = nullptr;     // the routine that called START
    int pid = -1;                           // the shell's process id, -1 until known
    int wait_error = 0;                     // errno of a failed wait for the shell, 0 when none
    GMainLoop *loop = nullptr;              // the loop START waits in
    GThread *thread = nullptr;              // the worker, joined at the end
    gchar **environment = nullptr;          // the environment the shell gets, copied by START
    GMutex data_mutex;
    std::deque<ExternalMessage> current_data;  // guarded by data_mutex
    std::exception_ptr error;               // what stopped the end, thrown again by START

    ExternalJob_t() { g_mutex_init(&data_mutex); }
    ~ExternalJob_t()
    {
        g_strfreev(environment);
        g_mutex_clear(&data_mutex);
    }
    ExternalJob_t(const ExternalJob_t &) = delete;
    ExternalJob_t &operator=(const ExternalJob_t &) = delete;
};

// ---- The job's queue (any thread) ---------------------------------------------------------------
void external_program_push_data(ExternalJob_t *job, char kind, std::string text);
// The first message, or false when the queue is empty.
bool external_program_pop_data(ExternalJob_t *job, ExternalMessage *message);
// The first 'E' message, or false when there is none.
bool external_program_pop_data_error(ExternalJob_t *job, ExternalMessage *message);

// ---- What the forms engine hands this library ------------------------------------------------------
struct ExternalProgramHooks {
    // The control matrix a START's third argument names (the handle check's own stops for a stale
    // one), or nullptr when it names none. Default: stops with "Control matrices not available".
    ControlMatrix_t *(*control_matrix)(const Stack *entry);
    // Before the command starts: the CM's follow-on record (action code 121, index 0) made anew
    // from the count arguments at args (the CM's handle first) with the job's routine and
    // application, the job recorded on the CM, and Enter ignored while a command runs.
    void (*attach)(ExternalJob_t *job, const Stack *args, int count);
    // The command has ended and the job is no longer among the running ones: the CM's job and the
    // Enter flag are brought up to date. Called first at every end, whatever follows.
    void (*detach)(ExternalJob_t *job);
    // Then the follow-on routine runs with output as IP$, and the event ends.
    void (*follow_on)(ExternalJob_t *job, const std::string &output);
};
// Installs every member (all must be set) and returns what it replaces.
ExternalProgramHooks register_external_program_hooks(const ExternalProgramHooks &hooks);

// ---- Running jobs (GUI thread) ---------------------------------------------------------------------
// The newest running job of cm, or nullptr.
ExternalJob_t *external_program_running_on(const ControlMatrix_t *cm);
bool external_programs_running();

// ---- Intrinsics --------------------------------------------------------------------------------------
void external_program_start(int nargs, int last);                 // IEXTERNAL_PROGRAM_START
void external_program_detach(int nargs, int last, Stack *result);  // IEXTERNAL_PROGRAM_DETACH

// The dispatcher rows of both, registered by the library's registration object.
std::span<const IntrinsicRow> external_program_intrinsics();
