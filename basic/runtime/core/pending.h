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
// The loaded applications joined by ", ": the first REPORT_APPLICATION_NAMES of them, then
// ", ... and N more" for the others, so that a report stays short however many are loaded.
inline constexpr int REPORT_APPLICATION_NAMES = 20;
std::string ApplicationNames();
const char *LoadedFileName(int index);  // source file of the current application, or NULL

// Transactions opened by IPQBEGIN and not yet ended (the database layer).
extern int inPgTransaction;

// Start-up (the file channels: fileio.h).
void init_child_slots();
void Take_dump();

// Exit and clean-up.
void DelAllApplications();
void free_all_db_results();
void free_all_db_connections();
void free_loaded_program_name();
void cmat_free_cm(ControlMatrix_t *cm);
void ldap_cleanup();
