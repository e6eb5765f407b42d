// The object loader: reads a ZEMA object file into the memory space of a new application.
//
// Every number the file gives that places something in memory (code-word indexes, area
// advances, data-list positions, routine indexes, symbol locations) is checked against the sizes
// the header declared, so a damaged file is refused instead of writing outside its areas.
#include "loader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include "applications.h"
#include "executor.h"
#include "globals.h"
#include "interp.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "objfile.h"
#include "run_time.h"
#include "signals.h"
#include "sql.h"
#include "trace_ring.h"

int object_fd = -1;
char obj_buf[OBJ_BLOCK + 1];
int End_of_load;
char header[OBJ_BLOCK + 1];
Code *CodeCurrent;
Code *BaseCodeCurrent;
Code *code_end;
Code *CodeRoot;
dec_t *numeric_ptr;
char *char_ptr;
char *struct_ptr;
int loaded_routines = -1;
std::uint64_t code_words_stored;
int i_routine = -1;
Code *last_routine;
char ISSUE_STR[ISSUE_SIZE + 1];
char Loaded_program_path[LOADED_PATH_SIZE];
char Loaded_program[LOADED_PATH_SIZE];
char Loaded_program_header[LOADED_HEADER_SIZE];
char *LoadedProgramName;

namespace {

constexpr int REVISION = 70;
constexpr int PROGRAM_BASE_MAX = PROGRAM_NAME_SIZE - 1 - 2 - (APP_SUFFIX_SIZE - 1);  // 58
constexpr int ROUTINE_START_WORDS = 8;  // the op and its seven operands

// The areas of the memory space being filled.
AppMemory_t *load_mem;

// Tags of the operands of the last code record, for the routine-start check.
char record_tags[ROUTINE_START_WORDS];
int record_operands;

void close_object()
{
    if (object_fd >= 0) close(object_fd);
    object_fd = -1;
}

// The next byte of the object file; the file may not end inside a record.
unsigned char next_byte()
{
    if (obj_ptr >= obj_end && Load_buffer() != 0) Abort("Binary corrupted: incomplete object file");
    return static_cast<unsigned char>(*obj_ptr++);
}

// Room for count more items of size bytes between place and end.
bool fits(const void *place, const void *end, std::uint64_t count, std::size_t size)
{
    auto room = static_cast<std::uint64_t>(static_cast<const char *>(end) - static_cast<const char *>(place));
    return count <= room / size;
}

dec_t *numeric_end() { return load_mem->numerics + load_mem->ncount; }
char *char_end() { return load_mem->chars + load_mem->ccount; }
char *struct_end() { return load_mem->structs + load_mem->stcount; }

// A decimal constant: an optional sign, digits with at most one point, an optional exponent,
// and nothing else. The arithmetic's own reader is more lenient than a stored file may be.
bool whole_number_text(const char *t)
{
    auto digits = [&t] {
        int n = 0;
        while (*t >= '0' && *t <= '9') ++t, ++n;
        return n;
    };
    if (*t == '+' || *t == '-') ++t;
    int mantissa = digits();
    if (*t == '.') {
        ++t;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (*t == 'e' || *t == 'E') {
        ++t;
        if (*t == '+' || *t == '-') ++t;
        if (digits() == 0) return false;
    }
    return *t == '\0';
}

// Reads an "n" text and converts it into *into.
void read_decimal(dec_t *into)
{
    char token[LOADER_TOKEN_SIZE];
    int len = assem_str(token, sizeof token);
    if (len < 0) Abort("Binary corrupted: operand text too long");
    if (!whole_number_text(token) || NumericCvASC(token, len, into) != 0)
        Abort("Binary corrupted: ill-formed decimal number");
}

// Reads an "s" text into place, which has room up to end; returns the bytes used with the NUL.
std::size_t read_string(char *place, char *end, const char *area)
{
    int len = assem_str(place, static_cast<int>(std::min<std::ptrdiff_t>(end - place, 1 << 30)));
    if (len < 0) Abort("Binary corrupted: %s overrun", area);
    return static_cast<std::size_t>(len) + 1;
}

Code *store_word()
{
    if (CodeCurrent >= code_end) Abort("Not enought code space!");
    ++code_words_stored;  // the executor's decoded forms of earlier code may be stale now
    return CodeCurrent++;
}

// One operand of a code record.
void decode_operand(unsigned char tag)
{
    if (record_operands < ROUTINE_START_WORDS) record_tags[record_operands] = static_cast<char>(tag);
    ++record_operands;
    switch (tag) {
    case 'I':
    case 'P': {
        // The compiler writes 8 bytes; the value is the signed 32-bit number of the last four.
        auto v = static_cast<std::uint64_t>(assem_num(8));
        auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(v & 0xFFFFFFFFu));
        store_word()->param = static_cast<Address>(static_cast<std::int64_t>(low));
        return;
    }
    case 'c':
    case 'i':
    case 'p':
        store_word()->param = static_cast<Address>(assem_num(1));
        return;
    case 'l': {
        auto n = static_cast<std::int32_t>(static_cast<std::uint32_t>(assem_num(4)));
        std::int64_t index = (CodeRoot - BaseCodeCurrent) + static_cast<std::int64_t>(n);
        if (index < 0 || index >= code_end - BaseCodeCurrent)
            Abort("Binary corrupted: label %d outside the code area", n);
        store_word()->c_ptr = BaseCodeCurrent + index;
        return;
    }
    case 'n': {
        Code *word = store_word();
        if (numeric_ptr >= numeric_end()) Abort("Binary corrupted: numeric area overrun");
        preset_numeric_vars(numeric_ptr, 1);
        read_decimal(numeric_ptr);
        word->num = numeric_ptr++;
        return;
    }
    case 'r': {
        char token[LOADER_TOKEN_SIZE];
        Code *word = store_word();
        if (assem_str(token, sizeof token) < 0) Abort("Binary corrupted: operand text too long");
        word->param = static_cast<Address>(FindRoutine(token));
        return;
    }
    case 's': {
        Code *word = store_word();
        word->string = char_ptr;
        char_ptr += read_string(char_ptr, char_end(), "character area");
        return;
    }
    default:
        Abort("Binary corrupted: bad operand type - 0x%X (%c)", tag, tag);
    }
}

// After a newline: see whether the file has ended.
void record_done()
{
    if (obj_ptr >= obj_end) Load_buffer();
}

// A count operand of a routine-start record.
std::uint32_t routine_count_operand(const Code *start, int i)
{
    auto v = static_cast<std::int64_t>(start[i].param);
    if (v < 0 || v > INT32_MAX) Abort("Binary corrupted: bad routine area size");
    return static_cast<std::uint32_t>(v);
}

// A routine-start record has been stored at start: give the routine its areas.
void begin_routine(Interp_t *interp, Code *start)
{
    if (record_operands != ROUTINE_START_WORDS - 1 || record_tags[0] != 'r')
        Abort("Binary corrupted: bad routine start record");
    if (i_routine >= 0) {
        routines[i_routine].data_nindex = 0;
        routines[i_routine].data_cindex = 0;
    }
    i_routine = static_cast<int>(start[1].param);
    Routine &r = routines[i_routine];

    // The cells a routine takes are preset here, within the routine's bounds, rather than the
    // whole area the header asked for.
    auto take_numerics = [](std::uint32_t n, dec_t *&area) {
        if (n == 0) return;
        if (!fits(numeric_ptr, numeric_end(), n, sizeof(dec_t))) Abort("Binary corrupted: numeric area overrun");
        area = numeric_ptr;
        numeric_ptr += n;
        preset_numeric_vars(area, static_cast<int>(n));
    };
    auto take_chars = [](std::uint32_t n, char *&place, char *end, char *&area, const char *what) {
        if (n == 0) return;
        if (!fits(place, end, n, 1)) Abort("Binary corrupted: %s overrun", what);
        area = place;
        place += n;
    };

    r.data_ncount = routine_count_operand(start, 2);
    take_numerics(r.data_ncount, r.data_numerics);
    r.data_ccount = routine_count_operand(start, 3);
    take_chars(r.data_ccount, char_ptr, char_end(), r.data_chars, "character area");
    r.local_ncount = static_cast<int>(routine_count_operand(start, 4));
    take_numerics(static_cast<std::uint32_t>(r.local_ncount), r.local_numerics);
    r.local_ccount = static_cast<int>(routine_count_operand(start, 5));
    take_chars(static_cast<std::uint32_t>(r.local_ccount), char_ptr, char_end(), r.local_chars, "character area");
    r.local_stcount = static_cast<int>(routine_count_operand(start, 6));
    take_chars(static_cast<std::uint32_t>(r.local_stcount), struct_ptr, struct_end(), r.local_structs,
               "structure area");
    r.arg_count = static_cast<int>(static_cast<std::int64_t>(start[7].param));

    interp->code[i_routine] = start;
    last_routine = start;
    CodeRoot = interp->code[0] ? interp->code[0] : BaseCodeCurrent;
}

// The program name: the file name part of the path with its last extension cut off.
std::string program_base(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    std::string base = slash ? slash + 1 : path;
    auto dot = base.rfind('.');
    if (dot != std::string::npos) base.erase(dot);
    return base;
}

// Reads the header line from the first block; obj_ptr is left on its terminating NUL.
char *read_header_line()
{
    End_of_load = 0;
    obj_ptr = obj_end = obj_buf;
    if (Load_buffer() != 0) Abort("Null load file");
    if (obj_end - obj_ptr >= 2 && obj_ptr[0] == '#' && obj_ptr[1] == '!') {
        auto *nl = static_cast<char *>(std::memchr(obj_ptr, '\n', obj_end - obj_ptr));
        if (!nl) Abort("cannot load %s - first line longer than %d bytes", object, OBJ_BLOCK);
        obj_ptr = nl + 1;
    }
    auto *nl = static_cast<char *>(std::memchr(obj_ptr, '\n', obj_end - obj_ptr));
    if (!nl) Abort("Not ZEMA object file - Missing Header");
    *nl = '\0';
    char *line = obj_ptr;
    obj_ptr = nl;
    return line;
}

struct Header {
    char issue[ISSUE_SIZE + 1] = "";
    float revision = 0;
    unsigned code_words = 0;
    unsigned decimals[3] = {};
    unsigned chars[3] = {};
    unsigned struct_bytes = 0;
    int unused11 = 0;
    unsigned keylen = 0;
    char key[OBJ_BLOCK + 1] = "";
    unsigned unused14 = 0;
    char unused15[OBJ_BLOCK + 1] = "";
    char name[OBJ_BLOCK + 1] = "";  // the header line bounds it; longer than 255 never matches
};

int revision_number(float revision)
{
    if (!std::isfinite(revision) || std::fabs(revision) >= 2e9f) return -1;
    return static_cast<int>(revision);
}

// Parses and checks the header, in the order the messages are given.
void check_header(const char *line, Header &h)
{
    int n = std::sscanf(line, RD_OBJ_HEADER_FMT, h.issue, &h.revision, &h.code_words, &h.decimals[0],
                        &h.decimals[1], &h.decimals[2], &h.chars[0], &h.chars[1], &h.chars[2], &h.struct_bytes,
                        &h.unused11, &h.keylen, h.key, &h.unused14, h.unused15, h.name);
    if (n != HEADER_FIELDS) Abort("ZEMA object header miss match! Read %d header fields", n < 0 ? 0 : n);
    if (std::strcmp(h.name, LoadedProgramName) != 0) {
        std::string expected = LoadedProgramName;
        DPS_FREE(LoadedProgramName);
        Abort("Compiled in object name [%s] != loaded name [%s]\n", h.name, expected.c_str());
    }
    if (!numsys_key) AcquireKeys();
    if (h.keylen != static_cast<unsigned>(numsys_keylen) || std::strncmp(h.key, numsys_key, h.keylen) != 0)
        Abort("Version mismatch in program header");
    std::snprintf(Loaded_program_header, sizeof Loaded_program_header, "%s", line);
    std::memcpy(ISSUE_STR, h.issue, ISSUE_SIZE);
    ISSUE_STR[ISSUE_SIZE] = '\0';
    auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    auto is_letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (!is_letter(h.issue[0]) || !is_digit(h.issue[1]) || !is_digit(h.issue[2]))
        Abort("cannot load %s - incomplete binary", object);
    int revision = revision_number(h.revision);
    if (revision != REVISION)
        Abort("cannot load %s - incompatible revision\nObject Version: %d but expected %d. Please recompile.", object,
              revision, REVISION);
    if (std::strncmp(h.issue, "V15", 3) != 0)
        Abort("cannot load %s - incompatible ISSUE expected V15 but got ISSUE=%s\n", object, ISSUE_STR);
}

std::uint32_t area_size(const unsigned (&counts)[3])
{
    std::uint64_t sum = std::uint64_t{counts[0]} + counts[1] + counts[2];
    if (sum > INT32_MAX) Abort("Binary corrupted: header area sizes too large");
    return static_cast<std::uint32_t>(sum);
}

// The application of the program: base__A for the first, then the next suffix.
Application_t *name_application(Interp_t *interp, const std::string &base)
{
    char suffix[APP_SUFFIX_SIZE] = "";
    Application_t *last = FindLastApplication(base.c_str(), suffix);
    // Past the last suffix the names begin again at the first one free (programs replaced by
    // CHAIN and ended EXECUTE children are freed, so a long run uses few names at a time); a
    // name in use is never taken again.
    if (!last) std::strcpy(suffix, "A");
    if ((std::strcmp(suffix, "ZZZ") == 0 || FindApplication((base + "__" + suffix).c_str())) &&
        !FirstFreeSuffix(base.c_str(), suffix))
        Abort("Too many loaded %s applications - free some", base.c_str());
    std::string name = base + "__" + suffix;
    std::snprintf(interp->program_name, sizeof interp->program_name, "%s", name.c_str());
    return AddApplication(name.c_str());
}

void free_other_interp(AppMemory_t *mem, Interp_t *interp)
{
    Interp_t *old = mem->interp;
    if (old && old != interp) {
        DPS_FREE(old->ARGV.s_c.C_S);
        DPS_FREE(old->Stk);
        sfree(old);
    }
    mem->interp = interp;
}

// Points the context at the memory space. A new space's areas come zeroed from the allocator and
// are left alone: however much a header asks for, only the pages a program uses become resident.
// A space loaded before is cleared.
void take_memory(Interp_t *interp, AppMemory_t *mem, bool fresh)
{
    interp->code_base = mem->code;
    interp->code_size = mem->code_count;
    interp->numerics = mem->numerics;
    interp->ncount = mem->ncount;
    interp->chars = mem->chars;
    interp->ccount = mem->ccount;
    interp->structs = mem->structs;
    interp->stcount = mem->stcount;
    interp->routines = mem->routines;
    if (fresh) return;
    if (mem->numerics)
        std::memset(static_cast<void *>(mem->numerics), 0, sizeof(dec_t) * static_cast<std::size_t>(mem->ncount));
    if (mem->chars) std::memset(mem->chars, 0, static_cast<std::size_t>(mem->ccount));
    if (mem->structs) std::memset(mem->structs, 0, (static_cast<std::size_t>(mem->stcount) / 22 + 1) * 22);
}

void open_object()
{
    close_object();
    object_fd = open(object, O_RDONLY | O_CLOEXEC);
    if (object_fd < 0) Syserr("Cannot load %s", object);
}

} // namespace

int Load_buffer()
{
    if (object_fd < 0) {
        End_of_load = 1;
        return -1;
    }
    ssize_t n;
    do {
        n = read(object_fd, obj_buf, OBJ_BLOCK);
    } while (n < 0 && interrupted(errno));
    if (n < 0) Syserr("Read %s failed", object);
    obj_buf[n] = '\0';
    if (n == 0) {
        obj_ptr = obj_end = obj_buf;
        End_of_load = 1;
        return -1;
    }
    obj_ptr = obj_buf;
    obj_end = obj_buf + n;
    return 0;
}

std::int64_t assem_num(int bytes)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | next_byte();
    return static_cast<std::int64_t>(v);
}

int assem_str(char *destination, int size)
{
    for (int len = 0;; ++len) {
        unsigned char c = next_byte();
        if (len >= size) return -1;
        destination[len] = static_cast<char>(c);
        if (c == '\0') return len;
    }
}

bool start_routine(unsigned op)
{
    return op == o__nfunc || op == o__proc || op == o__sfunc;
}

int FindRoutine(const char *name)
{
    for (int i = 0; i <= cur_loaded_routine; ++i)
        if (routines[i].R_name == name) return i;
    int index = cur_loaded_routine + 1;
    if (index >= MAX_ROUTINES) Abort("Load aborted: too many routines");
    Routine &r = routines[index];
    FreeVarsinRoutine(&r);
    r.R_name = name;
    r.data_numerics = nullptr;
    r.data_chars = nullptr;
    r.data_nindex = 0;
    r.data_cindex = 0;
    cur_loaded_routine = loaded_routines = index;
    return index;
}

Code *decode()
{
    if (obj_ptr >= obj_end && Load_buffer() != 0) return nullptr;
    unsigned op = static_cast<unsigned char>(*obj_ptr++);
    switch (op) {
    case o__NOP:
        std::fputs("NO_OP found in code\n", stderr);
        return nullptr;
    case o__data:
        preset_data_list();
        return nullptr;
    case o_inclvs:
        parse_inclvstrings();
        return nullptr;
    case o_loadedfiles:
        parse_LoadedFiles(1, &load_mem->loaded_files);
        return nullptr;
    case o_sqltab:
        LoadOskaTables(load_mem->tables);
        return nullptr;
    case o_symtab:
        parse_symtab(1);
        return nullptr;
    default:
        break;
    }
    // An op byte beyond the set is stored like any other: the executor stops on it only if the
    // program reaches it ("execute op = %d").
    Code *first = store_word();
    first->param = op;
    record_operands = 0;
    for (;;) {
        unsigned char tag = next_byte();
        if (tag == '\n') break;
        decode_operand(tag);
    }
    record_done();
    return first;
}

void preset_data_list()
{
    if (i_routine < 0) Abort("Binary corrupted: data list outside a routine");
    Routine &r = routines[i_routine];
    for (;;) {
        unsigned char item = next_byte();
        if (item == '\n') break;
        if (item == 'n') {
            if (r.data_nindex < 0 || static_cast<std::uint32_t>(r.data_nindex) >= r.data_ncount)
                Abort("Binary corrupted: data list overrun");
            read_decimal(&r.data_numerics[r.data_nindex++]);
        } else if (item == 's') {
            if (r.data_cindex < 0 || static_cast<std::uint32_t>(r.data_cindex) >= r.data_ccount)
                Abort("Binary corrupted: data list overrun");
            char *place = r.data_chars + r.data_cindex;
            r.data_cindex += static_cast<int>(read_string(place, r.data_chars + r.data_ccount, "data list"));
        } else {
            Abort("Binary corrupted: invalid data list type - \"%c\"", item);
        }
    }
    record_done();
}

void preset_numeric_vars(dec_t *area, int count)
{
    for (int i = 0; i < count; ++i) {
        area[i] = dec_t{};
        area[i].dec_pos = 1;
    }
}

bool header_issue_and_revision(const char *line, std::string &issue, int &revision)
{
    char text[ISSUE_SIZE + 1] = "";
    float number = 0;
    if (std::sscanf(line, "%7c%f", text, &number) != 2) return false;
    issue.assign(text, ISSUE_SIZE);
    revision = revision_number(number);
    return true;
}

namespace {

bool placed_variable(const Symbol *s)
{
    return (s->S_type & s_variable) && !(s->S_type & (s_common | s_args));
}

[[noreturn]] void outside(const Symbol *s)
{
    Abort("Binary corrupted: symbol %s outside its area", s->S_name.c_str());
}

// A structure symbol's place in the routine's structure area, and its table schema.
void place_structure(Routine &r, Symbol *s)
{
    Address offset = s->S_memloc;
    // A based structure holds its pointer number here when it is flagged numeric.
    std::uint64_t size = (s->S_type & s_numeric) ? sizeof(dec_t) : 0;
    if (!(s->S_type & s_based)) {
        const auto *sig = std::get_if<SymSignature>(&s->S_);
        // The assertion's text, through Abort rather than the assertion path: a structure without
        // its table name is a damaged object file, not a fault of the run-time, so the run ends
        // like any other refused load (status 1, exit clean-up) instead of by SIGTRAP.
        if (!sig) Abort("Program assertion failed in %s@%d: %s", "loader", __LINE__, "s->S_.signature != NULL");
        OskaTable_t *table = FindOskaTable(current_application->app->tables, sig->tname.c_str());
        if (!table) Abort("Cannot find oska table %s on needed by var %s\n", sig->tname.c_str(), s->S_name.c_str());
        size = table->tsize < 0 ? 0 : static_cast<std::uint64_t>(table->tsize);
        s->S_ = table;
        s->S_type &= ~s_sigtname;
    }
    auto room = static_cast<std::uint64_t>(r.local_stcount);
    if (offset > room || size > room - offset) outside(s);
    s->S_memloc = reinterpret_cast<Address>(r.local_structs) + offset;
}

} // namespace

void SymbolMemory(Routine *table, int count)
{
    for (int i = 0; i < count; ++i) {
        Routine &r = table[i];
        std::memset(r.pstruct_refs, 0, sizeof r.pstruct_refs);
        for (Symbol *s = r.R_variables; s; s = s->S_fwd) {
            if (!placed_variable(s)) continue;
            if (s->S_type & s_struct) {
                place_structure(r, s);
            } else if (s->S_type & s_string) {
                if (s->S_memloc >= static_cast<Address>(r.local_ccount)) outside(s);
                s->S_memloc += reinterpret_cast<Address>(r.local_chars);
            } else if (s->S_type & s_numeric) {
                if (s->S_memloc >= static_cast<Address>(r.local_ncount)) outside(s);
                s->S_memloc = reinterpret_cast<Address>(r.local_numerics + s->S_memloc);
            }
        }
    }
}

void preset_struct_values(Routine *table, int count)
{
    constexpr std::int16_t positive = 1;
    for (int i = 0; i < count; ++i)
        for (Symbol *s = table[i].R_variables; s; s = s->S_fwd)
            if (placed_variable(s) && (s->S_type & s_struct) && (s->S_type & s_based) && (s->S_type & s_numeric))
                // The place may be at any byte of the structure area.
                std::memcpy(reinterpret_cast<char *>(s->S_memloc) + offsetof(dec_t, dec_pos), &positive,
                            sizeof positive);
}

void FreeLoadedprogramname()
{
    DPS_FREE(LoadedProgramName);
}

void LoadCode(Interp_t *interp)
{
    basic_trace_forget();  // names may be reused by the new program's tables
    open_object();
    if (std::strlen(object) >= sizeof Loaded_program_path) {
        close_object();
        Abort("cannot load %s - path too long", object);
    }
    std::memcpy(Loaded_program_path, object, std::strlen(object) + 1);
    std::string base = program_base(object);
    if (base.size() > static_cast<std::size_t>(PROGRAM_BASE_MAX)) {
        close_object();
        Abort("cannot load %s - program name longer than %d characters", object, PROGRAM_BASE_MAX);
    }

    DPS_FREE(LoadedProgramName);
    LoadedProgramName = basic_obj_fname(object);
    Application_t *ap = name_application(interp, base);

    char *line = read_header_line();
    Header h;
    check_header(line, h);

    std::uint32_t decimals = area_size(h.decimals);
    std::uint32_t chars = area_size(h.chars);
    if (h.code_words > INT32_MAX || h.struct_bytes > INT32_MAX) Abort("Binary corrupted: header area sizes too large");
    const std::uint64_t area_bytes = std::uint64_t{h.code_words} * sizeof(Code) + std::uint64_t{decimals} * sizeof(dec_t) +
                                     chars + h.struct_bytes;
    if (area_bytes > PROGRAM_AREAS_LIMIT)
        Abort("Binary corrupted: header asks for %llu bytes of program areas, more than %llu",
              static_cast<unsigned long long>(area_bytes), static_cast<unsigned long long>(PROGRAM_AREAS_LIMIT));
    const bool fresh = !ap->app;
    if (fresh) ap->app = NewApplicationMem(h.code_words, decimals, chars, h.struct_bytes);
    AppMemory_t *mem = ap->app;
    load_mem = mem;

    current_application = ap;
    interp->current_application = ap;
    free_other_interp(mem, interp);
    take_memory(interp, mem, fresh);

    ++obj_ptr;  // past the header's NUL
    CodeCurrent = BaseCodeCurrent = CodeRoot = mem->code;
    code_end = mem->code + mem->code_count;
    numeric_ptr = mem->numerics;
    char_ptr = mem->chars;
    struct_ptr = mem->structs;
    routines = mem->routines;
    cur_loaded_routine = i_routine = loaded_routines = -1;
    last_routine = nullptr;
    std::memset(interp->code, 0, sizeof interp->code);

    while (!End_of_load) {
        Code *c = decode();
        if (c && start_routine(static_cast<unsigned>(c->param))) begin_routine(interp, c);
    }
    // The last routine's data list is read from its start again, like every other routine's.
    if (i_routine >= 0) {
        routines[i_routine].data_nindex = 0;
        routines[i_routine].data_cindex = 0;
    }
    close_object();

    interp->npc = interp->code[0];
    interp->sp = -1;
    interp->loaded_routines = loaded_routines;
    mem->routine_count = loaded_routines + 1;
    std::memcpy(mem->entries, interp->code, sizeof(Code *) * static_cast<std::size_t>(mem->routine_count));
    current_application = ap;
    interp->current_application = ap;
    mem->interp = interp;
    interp->line_start = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(mem->code)) + 1;

    SymbolMemory(routines, loaded_routines + 1);
    preset_struct_values(routines, loaded_routines + 1);
    const char *file = std::strrchr(Loaded_program_path, '/');
    file = file ? file + 1 : Loaded_program_path;
    std::memmove(Loaded_program, file, std::strlen(file) + 1);
    load_mem = nullptr;
}
