// Stand-ins for subsystems that later work builds (see pending.h). Those that answer do so
// truthfully for a run-time in which nothing of theirs exists yet; those that would have to do
// real work stop the run.
#include "pending.h"

#include <cstdio>

#include "applications.h"
#include "loader.h"
#include "message.h"

void *Common_variables;
long Common_size;

const char *CurrentApplicationName() { return current_application ? current_application->name : nullptr; }

std::string ApplicationNames()
{
    std::string names;
    for (Application_t *ap = applications; ap; ap = ap->next) {
        if (!names.empty()) names += ", ";
        names += ap->name;
    }
    return names;
}
const char *CurrentRoutineName() { return "UNK"; }

const char *ProgramPoint()
{
    static char point[32];
    std::snprintf(point, sizeof point, "%d-UNK:", src_line_number);
    return point;
}

const char *LoadedFileName(int index)
{
    if (!current_application || !current_application->app) return nullptr;
    return FindLoadedFileExIndex(index, &current_application->app->loaded_files);
}
std::string ProgramDataPath() { return ""; }
bool ProgramLoaded() { return false; }
void ProgramTraceLines(std::vector<std::string> &) {}

bool ContextRunning() { return false; }
bool ErrorTrapArmed() { return false; }
int ContextExitStatus() { return 1; }
void SetContextExitStatus(int) {}

void initialize_files() { Abort("File channels not available"); }
void init_child_slots() {}
void run_first_program(const char *) { Abort("Loading and running programs not available"); }
void Take_dump() { Abort("Crash dump not available"); }

// No channel, context, result, connection or matrix can exist yet, so the clean-up has
// nothing to close or free there.
void close_files() {}
void release_context_stack() {}
void DelAllApplications() { DelApplication(nullptr, nullptr); }
void free_all_db_results() {}
void free_all_db_connections() {}
void free_loaded_program_name() { FreeLoadedprogramname(); }
void cmat_free_cm(ControlMatrix_t *) { Abort("Control matrices not available"); }
void ldap_cleanup() {}
void free_program_trace_ring() {}
