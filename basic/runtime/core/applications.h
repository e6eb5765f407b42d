// Applications (one per loaded object file) and the memory spaces they own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "code.h"
#include "disamdec.h"
#include "sql.h"
#include "symtab.h"

struct Interp_t;

// A block the program allocated for a pointer variable.
struct PointerMem_t {
    void *variable;  // address of the variable that holds the block
    void *block;
    PointerMem_t *next;
};

// Handle kinds a memory space tracks until the program frees them.
inline constexpr std::int32_t APP_HANDLE_ILIST = 0;
inline constexpr std::int32_t APP_HANDLE_OODOC = 1;

struct AppHandle_t {
    std::uintptr_t handle;
    std::int32_t line;  // source line of the creating statement
    std::int32_t kind;
    char *app_name;
    char *file;  // source file of the creating statement
    AppHandle_t *prev;
    AppHandle_t *next;
};

struct AppMemory_t {
    Code *code;
    std::int32_t code_count;
    dec_t *numerics;
    char *chars;
    std::int32_t ncount;  // decimals
    std::int32_t ccount;  // bytes
    char *structs;
    std::int32_t stcount;  // bytes
    PointerMem_t *pointer_memory;
    Routine *routines;  // MAX_ROUTINES entries
    std::int32_t routine_count;
    Code *entries[MAX_ROUTINES];
    OskaTable_t *tables[NH_OSKATABLES];
    Interp_t *interp;
    LoadedFiles_t *loaded_files;
    AppHandle_t *handles_first;
    AppHandle_t *handles_last;
};

struct Application_t {
    char *name;  // base name, "__" and a suffix of up to three capital letters
    AppMemory_t *app;
    Application_t *next;
    Application_t *prev;
    void *owner_window;     // first window the application attached to a form
    std::int32_t windowed;  // 1 once it opened a program window
    // External programs it started that still run (a count): a deletion walk stops at it, but a
    // busy successor of an application deleted by name goes along unless it is in use.
    std::int32_t busy;
    // Routine runs of its program that the callback runner holds it for (a count); see
    // ApplicationInUse.
    std::int32_t running;
};

inline constexpr int APP_SUFFIX_SIZE = 4;  // three letters and the terminator

extern Application_t *applications;
extern Application_t *current_application;
extern int last_ap_delete_ok;

Application_t *FindApplication(const char *name);
// Newest application named base + "__" + suffix; suffix (APP_SUFFIX_SIZE bytes) gets the next one.
Application_t *FindLastApplication(const char *base, char *suffix);
// The first suffix, in the order names are given, that no application of base has (ZZZ never):
// false when every one is taken.
bool FirstFreeSuffix(const char *base, char *suffix);
Application_t *AddApplication(const char *name);
void CanDeleteLastApplication();
// Whether the program is still in use, so that nothing may unload it: a routine of it runs, or
// its code runs in a context of the running programs (the current one, those waiting for a
// program they executed, and those a callback interrupted).
bool ApplicationInUse(const Application_t *ap);
// By name (with its neighbours by the owner rules) or, without a name, every deletable
// application of that owner window. An application in use is deletable by neither.
void DelApplication(const char *name, void *owner_window);
// Every deletable application (finish).
void DelAllApplications();
// Unlinks and frees that one application, whatever its neighbours.
void DeleteApplication(Application_t *ap);
AppMemory_t *NewApplicationMem(std::uint32_t code_words, std::uint32_t decimals, std::uint32_t chars,
                               std::uint32_t struct_bytes);
void DeleteApplicationMem(AppMemory_t *mem);

Routine *FindAppRoutine(Application_t *ap, const char *name, int *index);
Symbol *FindSymInRoutine(Routine *routine, const char *name);
Routine *GetRoutine(int index);
Routine *SeekRunTimeRoutine(const char *name);

void AppIlistAdd(AppMemory_t *mem, int kind, std::uintptr_t handle, const char *app_name, int line,
                 int file_index);
void AppIlistDel(AppMemory_t *mem, std::uintptr_t handle);

void free_pointer_memory(PointerMem_t **list);

void PrintApplication(Application_t *ap, std::FILE *stream);
void PrintApplicationMem(AppMemory_t *mem, std::FILE *stream);
void PrintAppVariables(Application_t *ap, std::FILE *stream);
void PrintAllAppVariables(const char *title, std::FILE *stream);

// Report data. The report reads the current application only while it is still in the list: a
// fault may come from a routine of one unloaded under it, which left the pointer behind.
Application_t *LoadedCurrentApplication();  // the current application, or NULL when not loaded
const char *CurrentApplicationName();   // NULL while no application is loaded
// The loaded applications joined by ", ": the first REPORT_APPLICATION_NAMES of them, then
// ", ... and N more" for the others, so that a report stays short however many are loaded.
inline constexpr int REPORT_APPLICATION_NAMES = 20;
std::string ApplicationNames();
const char *LoadedFileName(int index);  // source file of the current application, or NULL
