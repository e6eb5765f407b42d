// Stand-ins for subsystems that later work builds (see pending.h). Those that answer do so
// truthfully for a run-time in which nothing of theirs exists yet; those that would have to do
// real work stop the run.
#include "pending.h"

#include <cstdio>

#include "applications.h"
#include "intrinsic_dispatch.h"
#include "loader.h"
#include "message.h"

int inPgTransaction;

const char *CurrentApplicationName() { return current_application ? current_application->name : nullptr; }

std::string ApplicationNames()
{
    std::string names;
    int count = 0;
    for (Application_t *ap = applications; ap; ap = ap->next, ++count) {
        if (count >= REPORT_APPLICATION_NAMES) continue;  // counted, not named
        if (!names.empty()) names += ", ";
        names += ap->name;
    }
    if (count > REPORT_APPLICATION_NAMES) names += ", ... and " + std::to_string(count - REPORT_APPLICATION_NAMES) + " more";
    return names;
}

const char *LoadedFileName(int index)
{
    if (!current_application || !current_application->app) return nullptr;
    return FindLoadedFileExIndex(index, &current_application->app->loaded_files);
}

void init_child_slots() {}
void Take_dump() { Abort("Crash dump not available"); }


// No result, connection or matrix can exist yet, so the clean-up has nothing to free there.
void DelAllApplications() { DelApplication(nullptr, nullptr); }
void free_all_db_results() {}
void free_all_db_connections() {}
void free_loaded_program_name() { FreeLoadedprogramname(); }
void cmat_free_cm(ControlMatrix_t *) { Abort("Control matrices not available"); }
void ldap_cleanup() {}
