// What start-up, exit and the error reports need from subsystems that are not built yet: the
// object loader, the executor and interpreter contexts, applications, file channels, child
// processes, the database and the directory. Each stand-in either answers as
// "nothing loaded / nothing open" or stops the run with "... not available"; the issues that
// build those subsystems replace them (pending.cpp).
#pragma once

#include <string>
#include <vector>

struct ControlMatrix_t;

// Report data owned by the executor and the applications.
const char *CurrentApplicationName();   // NULL while no application is loaded
std::string ApplicationNames();         // all loaded applications, joined by ", "
const char *CurrentRoutineName();
const char *ProgramPoint();
const char *LoadedFileName(int index);  // source file of the current application, or NULL
std::string ProgramDataPath();          // value of COM.DATA.PATH$, or ""
bool ProgramLoaded();
void ProgramTraceLines(std::vector<std::string> &lines);  // newest first

// Error state of the running context (Xerror, Syserr).
bool ContextRunning();
bool ErrorTrapArmed();
int ContextExitStatus();
void SetContextExitStatus(int status);

// Start-up.
void initialize_files();
void init_child_slots();
[[noreturn]] void run_first_program(const char *origin);
void Take_dump();

// Exit and clean-up.
void close_files();
void release_context_stack();
extern void *Common_variables;
extern long Common_size;
void DelAllApplications();
void free_all_db_results();
void free_all_db_connections();
void free_loaded_program_name();
void cmat_free_cm(ControlMatrix_t *cm);
void ldap_cleanup();
void free_program_trace_ring();
