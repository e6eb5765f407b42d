// The object loader: reads a ZEMA object file into a new application and prepares an interpreter
// context to run it.
#pragma once

#include <cstdint>
#include <string>

#include "code.h"
#include "disamdec.h"
#include "symtab.h"

struct Application_t;
struct Interp_t;

inline constexpr int OBJ_BLOCK = 2048;         // bytes read per block
inline constexpr int COMP_OBJ_FNAMESZ = 256;   // compiled-in object name and its terminator
inline constexpr int LOADED_PATH_SIZE = 256;   // Loaded_program_path, Loaded_program
inline constexpr int LOADED_HEADER_SIZE = 513; // Loaded_program_header
inline constexpr int LOADER_TOKEN_SIZE = 1024; // "n" and "r" operand texts
inline constexpr int ISSUE_SIZE = 7;
inline constexpr int HEADER_FIELDS = 16;
// The most a header may ask for its code, numbers, characters and structures together: the areas
// are allocated when loaded, so a larger request would take the memory before any check could.
inline constexpr std::uint64_t PROGRAM_AREAS_LIMIT = std::uint64_t{1} << 30;
inline constexpr const char *RD_OBJ_HEADER_FMT = "%7c%f %u %u %u %u %u %u %u %u %d %u %s %u %s %s";

extern int object_fd;
extern char obj_buf[OBJ_BLOCK + 1];
extern int End_of_load;
extern char header[OBJ_BLOCK + 1];
extern Code *CodeCurrent;
extern Code *BaseCodeCurrent;
extern Code *code_end;
extern Code *CodeRoot;
extern dec_t *numeric_ptr;
extern char *char_ptr;
extern char *struct_ptr;
extern int i_routine;
extern Code *last_routine;
extern char ISSUE_STR[ISSUE_SIZE + 1];
extern char Loaded_program_path[LOADED_PATH_SIZE];
extern char Loaded_program[LOADED_PATH_SIZE];
extern char Loaded_program_header[LOADED_HEADER_SIZE];
extern char *LoadedProgramName;
// Code words the loader has stored in this process: a change tells the executor that code it has
// decoded may have been replaced.
extern std::uint64_t code_words_stored;

// The issue and revision of a header line, read as the loader reads them: the issue its first
// seven characters, the revision the number after them (as a whole number, -1 when out of
// range). False when the line does not have both.
bool header_issue_and_revision(const char *line, std::string &issue, int &revision);

void LoadCode(Interp_t *interp);
Code *decode();
bool start_routine(unsigned op);
int FindRoutine(const char *name);
std::int64_t assem_num(int bytes);
int assem_str(char *destination, int size);
void preset_data_list();
void preset_numeric_vars(dec_t *area, int count);
void SymbolMemory(Routine *table, int count);
void preset_struct_values(Routine *table, int count);
void FreeLoadedprogramname();
