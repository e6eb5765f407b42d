// Symbol-table sections, symbol records and the lookups over a routine's symbols.
#include "symtab.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "globals.h"
#include "objlines.h"
#include "sql.h"

namespace {

constexpr std::size_t SYMTAB_LINE = 2048;  // 2047 characters and the terminator
constexpr std::size_t SYMTAB_NAME = 512;   // 511 characters and the terminator

// True when the word that ends at end was read whole (a width-limited %s stops early).
bool word_complete(const char *line, int end)
{
    return end >= 0 && (line[end] == '\0' || std::isspace(static_cast<unsigned char>(line[end])));
}

ObjLine read_symtab_line(char *line)
{
    ObjLine r = obj_read_line(line, SYMTAB_LINE);
    if (r == ObjLine::end_of_file) obj_incomplete();
    return r;
}

struct SymbolLine {
    char name[SYMTAB_NAME] = "";
    char word[SYMTAB_NAME] = "";  // the table name of a structure variable
    int dim0 = 0, dim1 = 0;
    unsigned type = 0;
    long memloc = 0;
    int order = 0;
};

void read_symbol_line(SymbolLine &sl)
{
    char line[SYMTAB_LINE];
    ObjLine r = read_symtab_line(line);
    int name_end = -1, word_end = -1;
    int n = std::sscanf(line, "%511s%n %d %d 0x%X %ld %d %511s%n", sl.name, &name_end, &sl.dim0, &sl.dim1,
                        &sl.type, &sl.memloc, &sl.order, sl.word, &word_end);
    if (r != ObjLine::ok || n != 7 || !word_complete(line, name_end) || !word_complete(line, word_end))
        Abort("Bad symbol table format for SYMBOL %s\n", sl.name);
}

bool is_structure_variable(SymType type)
{
    return (type & s_struct) && !(type & s_based);
}

void append_symbol(Routine *r, Symbol *s)
{
    if (!r->R_variables) {
        r->R_variables = r->R_variables_last = s;
        return;
    }
    s->S_bck = r->R_variables_last;
    r->R_variables_last->S_fwd = s;
    r->R_variables_last = s;
}

} // namespace

const char *SymTableName(const Symbol *s)
{
    if (const auto *sig = std::get_if<SymSignature>(&s->S_)) return sig->tname.c_str();
    if (const auto *t = std::get_if<OskaTable_t *>(&s->S_); t && *t) return (*t)->tname.c_str();
    return nullptr;
}

const Symbol *SymBasedAt(const Symbol *s)
{
    const auto *b = std::get_if<SymBased>(&s->S_);
    return b ? b->at : nullptr;
}

Symbol *SymCreate(const char *name, std::uint32_t dim0, std::uint32_t dim1, SymType type, Address memloc)
{
    auto *s = new (std::nothrow) Symbol;
    if (!s) Abort("No memory to allocate symbol entry %s\n", name);
    try {
        s->S_name = name;
    } catch (const std::bad_alloc &) {
        delete s;
        Abort("No memory to allocate symbol entry name %s\n", name);
    }
    s->S_dims[0] = dim0;
    s->S_dims[1] = dim1;
    s->S_type = type;
    s->S_memloc = memloc;
    return s;
}

int FreeVarsinRoutine(Routine *routine)
{
    int n = 0;
    for (Symbol *s = routine->R_variables; s;) {
        Symbol *next = s->S_fwd;
        delete s;
        s = next;
        ++n;
    }
    routine->R_variables = routine->R_variables_last = nullptr;
    return n;
}

Routine::~Routine()
{
    FreeVarsinRoutine(this);
}

Routine *SeekRoutine(const char *name)
{
    if (!routines || !name) return nullptr;
    int last = std::min(cur_loaded_routine, MAX_ROUTINES - 1);
    for (int i = 0; i <= last; ++i)
        if (routines[i].R_name == name) return &routines[i];
    return nullptr;
}

void parse_symtab(int is_interpreter)
{
    char line[SYMTAB_LINE];
    char name[SYMTAB_NAME] = "";
    int count = 0, name_end = -1;
    ObjLine r = read_symtab_line(line);
    if (r != ObjLine::ok || std::sscanf(line, "__ROUTINE__ %511s%n %d", name, &name_end, &count) != 2 ||
        !word_complete(line, name_end))
        Abort("Bad symbol table format on __ROUTINE__ \n");

    Routine *routine = nullptr;
    if (is_interpreter) {
        routine = SeekRoutine(name);
        if (!routine) Abort("Cannot find routine %s for loading symbol table\n", name);
    } else {
        std::printf("Symbol table for %s (%d symbols)\n", name, count);
    }

    for (int i = 0; i < count; ++i) {
        SymbolLine sl;
        read_symbol_line(sl);
        SymType type = sl.type;
        if (!is_interpreter) {
            std::printf("\t%s %d %d 0x%2.2X (%s) %ld %d [%s]\n", sl.name, sl.dim0, sl.dim1, sl.type,
                        S_TypeStr(type), sl.memloc, sl.order, sl.word);
            continue;
        }
        Symbol *s = SymCreate(sl.name, static_cast<std::uint32_t>(sl.dim0), static_cast<std::uint32_t>(sl.dim1),
                              type, static_cast<Address>(sl.memloc));
        s->S_order = static_cast<std::uint32_t>(sl.order);
        append_symbol(routine, s);
        if (is_structure_variable(type)) {
            try {
                s->S_ = SymSignature{sl.word};
            } catch (const std::bad_alloc &) {
                Abort("No memory for tablename %s in symbol %s\n", sl.word, sl.name);
            }
            s->S_type |= s_sigtname;
        }
    }
    read_symtab_line(line);  // the closing line says nothing more
    obj_section_done();
}

Symbol *FindSymbolExMloc(Routine *routine, SymType wanted, SymType excluded, Address memloc)
{
    if (!routine) return nullptr;
    for (Symbol *s = routine->R_variables_last; s; s = s->S_bck) {
        if (s->S_memloc != memloc) continue;
        if ((s->S_type & wanted) != wanted || (s->S_type & excluded)) continue;
        // A structure variable only when asked for; a based structure is none (it has no record).
        if ((s->S_type & s_struct) && !(s->S_type & s_based) && !(wanted & s_struct)) continue;
        return s;
    }
    return nullptr;
}

Symbol *FindSymbolExMlocAbsolute(Routine *routine, Address memloc)
{
    if (!routine) return nullptr;
    for (Symbol *s = routine->R_variables; s; s = s->S_fwd)
        if (s->S_memloc == memloc) return s;
    return nullptr;
}

void PrintSymbol(const Symbol *s, std::FILE *stream)
{
    std::fprintf(stream, "%s %d %d 0x%2.2llX (%s) 0x%lX %d", s->S_name.c_str(), int(s->S_dims[0]), int(s->S_dims[1]),
                 static_cast<unsigned long long>(s->S_type), S_TypeStr(s->S_type),
                 static_cast<unsigned long>(s->S_memloc), int(s->S_order));
    if (s->S_type & s_struct) {
        if (const char *t = SymTableName(s))
            std::fprintf(stream, " [[%s]]", t);
        else if (const Symbol *at = SymBasedAt(s))
            std::fprintf(stream, " [%s]", at->S_name.c_str());
    }
    std::fputc('\n', stream);
}

void PrintSymbol_zema(const Symbol *s, std::FILE *stream)
{
    auto or_none = [](const std::string &t) { return t.empty() ? "none" : t.c_str(); };
    std::fprintf(stream, "%s @ 0x%lX %d %d 0x%2.2llX (%s) 0x%lX", s->S_name.c_str(),
                 static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(s)), int(s->S_dims[0]), int(s->S_dims[1]),
                 static_cast<unsigned long long>(s->S_type), S_TypeStr(s->S_type),
                 static_cast<unsigned long>(s->S_memloc));
    if (s->S_type & s_struct)
        if (const Symbol *at = SymBasedAt(s)) std::fprintf(stream, " [%s]", at->S_name.c_str());
    std::fputc('\n', stream);
    std::fprintf(stream, "\tOrder: %d, decl %d, file %s, book %s\n", int(s->S_order), s->S_src_line_declared,
                 or_none(s->S_src_file_name), or_none(s->S_src_cur_book));
    const char *sig = SymTableName(s);
    std::fprintf(stream, "\tSig: %s\n", sig ? sig : "none");
}
