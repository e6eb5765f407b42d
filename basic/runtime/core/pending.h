// What start-up, exit, the error reports and the executor need from subsystems that are not
// built yet: child processes, the database and the directory. Each stand-in either answers as
// "nothing open" or stops the run with "... not available"; the code that builds those
// subsystems replace them (pending.cpp).
#pragma once

#include <string>
#include <vector>

#include "executor.h"

struct ControlMatrix_t;

// Report data owned by the applications.
const char *CurrentApplicationName();   // NULL while no application is loaded
std::string ApplicationNames();         // all loaded applications, joined by ", "
const char *LoadedFileName(int index);  // source file of the current application, or NULL

// Transactions opened by IPQBEGIN and not yet ended (the database layer).
extern int inPgTransaction;

// Start-up (the file channels: fileio.h).
void init_child_slots();

// The crash dump that a fatal report may offer: Take_dump runs the writer the intrinsics register
// and stops with "Crash dump not available" while none is registered. Registering returns the
// writer it replaces.
using DumpWriter = void (*)();
DumpWriter register_dump_writer(DumpWriter writer);
void Take_dump();

// Exit and clean-up.
void DelAllApplications();
void free_all_db_results();
void free_all_db_connections();
void free_loaded_program_name();
void cmat_free_cm(ControlMatrix_t *cm);
void ldap_cleanup();
