// Symbols and routines of a loaded program, and the object-file sections that describe where the
// program came from: symbol tables, include versions and loaded files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <variant>

#include "code.h"
#include "disamdec.h"
#include "enum_codes.h"

struct OskaTable_t;
struct ParseNode;  // the compiler's parse tree; opaque to the run-time

inline constexpr int MAX_ROUTINES = 512;
inline constexpr int MAX_PSTRUCTS = 10;

struct Symbol;

// Where a based structure lives: the symbol it is based at, the root of that chain and two
// offsets.
struct SymBased {
    Symbol *at = nullptr;
    Symbol *root = nullptr;
    std::int16_t loc[2] = {0, 0};
};

// DATA items of a routine (compiler only).
struct SymDataList {
    ParseNode *node = nullptr;
};

// The table name a structure variable was declared on, until the loader replaces it by the
// schema itself.
struct SymSignature {
    std::string tname;
};

// The symbol's variable part. Exactly one alternative is live, so a structure whose table name
// was replaced by its schema is never read as a based structure.
using SymExtra = std::variant<SymBased, SymDataList, SymSignature, OskaTable_t *>;

struct Symbol {
    std::string S_name;
    Symbol *S_fwd = nullptr;  // next symbol of the routine
    Symbol *S_bck = nullptr;  // previous symbol
    SymType S_type = 0;
    std::uint32_t S_dims[2] = {0, 0};
    Address S_memloc = 0;  // offset in the routine's data areas, as the compiler assigned it
    std::uint32_t S_order = 0;
    int S_src_line_declared = 0;
    std::string S_src_file_name;  // empty when unknown
    std::string S_src_cur_book;
    ParseNode *initial_value = nullptr;  // compiler only
    int S_offs_withinst = 0;
    int S_first_usedb4a = 0;  // compiler only
    SymExtra S_;
    int S_sig_is_table = 0;
};

// The table name of a structure symbol (from its declaration or its schema), else nullptr.
const char *SymTableName(const Symbol *s);
// The symbol a based structure is based at, else nullptr.
const Symbol *SymBasedAt(const Symbol *s);

struct PStructRef {
    std::uint64_t r_adr;
    std::uint64_t v_adr;
};

// One entry of an application's routine table. It owns its symbol list.
struct Routine {
    std::string R_name;
    std::string R_extern;
    SymType R_type = 0;
    Symbol *R_variables_last = nullptr;
    Symbol *R_variables = nullptr;
    Symbol *R_data = nullptr;
    ParseNode *R_code = nullptr;  // compiler only
    dec_t *local_numerics = nullptr;
    char *local_chars = nullptr;
    int local_ncount = 0;
    int local_ccount = 0;
    char *local_structs = nullptr;
    int local_stcount = 0;
    PStructRef pstruct_refs[MAX_PSTRUCTS] = {};
    dec_t *data_numerics = nullptr;
    char *data_chars = nullptr;
    std::uint32_t data_ncount = 0;
    std::uint32_t data_ccount = 0;
    int data_nindex = 0;
    int data_cindex = 0;
    Address common_ncount = 0;
    Address common_ccount = 0;
    Address common_offset = 0;
    int arg_count = 0;
    int start_line = 0;
    std::string signature;
    std::string src_file;
    std::uint8_t executing = 0;

    Routine() = default;
    Routine(const Routine &) = delete;
    Routine &operator=(const Routine &) = delete;
    ~Routine();
};

// Reads one symbol-table section from the object buffer: with is_interpreter non-zero the
// symbols are hung on their routine, with 0 the section is listed on standard output.
void parse_symtab(int is_interpreter);
Symbol *SymCreate(const char *name, std::uint32_t dim0, std::uint32_t dim1, SymType type, Address memloc);
int FreeVarsinRoutine(Routine *routine);
// Latest symbol at memloc with all wanted and none of the excluded bits (structure variables, those
// not based, only when wanted includes s_struct).
Symbol *FindSymbolExMloc(Routine *routine, SymType wanted, SymType excluded, Address memloc);
// First symbol at memloc, whatever its type.
Symbol *FindSymbolExMlocAbsolute(Routine *routine, Address memloc);
void PrintSymbol(const Symbol *s, std::FILE *stream);
void PrintSymbol_zema(const Symbol *s, std::FILE *stream);
// The routine of that name among routines[0..cur_loaded_routine], or nullptr.
Routine *SeekRoutine(const char *name);

// Include-file versions: one list per process, in order of first appearance.
inline constexpr const char *INCL_VERS_HEADER = "INCLV:";
struct InclVers_t {
    std::string fn;
    std::string vers;
    InclVers_t *nxt = nullptr;
};
extern InclVers_t *included_files;
extern InclVers_t *last_added;

const char *ParseCommentInclV(const char *line);
InclVers_t *FindInclV(const char *name);
int AddInclV(const char *name, const char *version);
void ShowInclV();
void SaveInclV(std::FILE *stream);
void parse_inclvstrings();

// Source files a program was built from; an entry's id is its position in the list.
struct LoadedFiles_t {
    std::string name;
    int id = 0;
    LoadedFiles_t *nxt = nullptr;
};
extern int current_loaded_file;

int AddLoadedFile(const char *name, LoadedFiles_t **list);
int FindLoadedFile(const char *name, LoadedFiles_t *const *list);
const char *FindLoadedFileExIndex(int id, LoadedFiles_t *const *list);
void PrintLoadedFiles(std::FILE *stream, int verbose, LoadedFiles_t *const *list);
void parse_LoadedFiles(int form_list, LoadedFiles_t **list);
void DeleteLoadedFiles(LoadedFiles_t **list);
