// Writing ZEMA object files from benchmarks, which are built without the test tools (records of an
// op byte and tagged operands, sections, the header line that the loader checks), and loading them
// as the first program.
#pragma once

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include <glib.h>

#include "contexts.h"
#include "executor.h"
#include "globals.h"
#include "interp.h"
#include "loader.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "run_time.h"
#include "op_codes.h"

struct ObjectWriter {
    std::string out;
    int words = 0;      // code words so far
    int constants = 0;  // decimals of n constants
    int chars = 0;      // characters of s constants

    void op(unsigned code) { out += static_cast<char>(code), ++words; }
    void end() { out += '\n'; }
    void i(long v)
    {
        out += 'I';
        for (int k = 7; k >= 0; --k) out += static_cast<char>((static_cast<unsigned long>(v) >> (8 * k)) & 0xFF);
        ++words;
    }
    void n(const char *text) { out += 'n', out += text, out += '\0', ++words; }
    void s(const char *text) { out += 's', out += text, out += '\0', ++words; }
    void r(const char *name) { out += 'r', out += name, out += '\0', ++words; }
    void l(int index)
    {
        out += 'l';
        for (int k = 3; k >= 0; --k) out += static_cast<char>((static_cast<unsigned>(index) >> (8 * k)) & 0xFF);
        ++words;
    }
    void c(int v) { out += 'c', out += static_cast<char>(v), ++words; }
    void p(int v) { out += 'p', out += static_cast<char>(v), ++words; }
    void record(unsigned code, std::initializer_list<long> ints)
    {
        op(code);
        for (long v : ints) i(v);
        end();
    }
    // Pushes a decimal constant.
    void constant(const char *text)
    {
        op(o_loadrc);
        n(text);
        c(0);
        end();
        ++constants;
    }
    // Pushes a text constant (shared: the entry points at the constant).
    void text(const char *t)
    {
        op(o_loadsc);
        s(t);
        p(1);
        end();
        chars += static_cast<int>(std::strlen(t)) + 1;
    }
    // Starts a routine: .proc (or kind, .nfunc and .sfunc) name, then data-list decimals and
    // characters, local decimals and characters, local structure bytes and the argument count.
    void routine(const char *name, int numerics, int characters, int args, unsigned kind = o__proc)
    {
        op(kind);
        r(name);
        for (long v : {0, 0, numerics, characters, 0, args}) i(v);
        end();
    }
    // A label operand whose position is filled in later by place(): returns where it goes.
    std::size_t label_to_place()
    {
        const std::size_t at = out.size() + 1;
        l(0);
        return at;
    }
    // Fills in the label at slot with the position of the next code word.
    void place(std::size_t slot)
    {
        for (int k = 3; k >= 0; --k) out[slot + 3 - k] = static_cast<char>((static_cast<unsigned>(words) >> (8 * k)) & 0xFF);
    }
    // A numeric variable of the routine's own area: its value, and a store of the top entry into it.
    void load(int cell) { record(o_loadrvd, {cell, 1, 0, 0, 0}); }
    void store(int cell) { record(o_storrd, {cell, 1, 0, 0, 0}); }
    // A string of the routine's own character area at a byte offset: its value, its address, and a
    // store of the top entry into it.
    void load_text(int at, int length) { record(o_loadsvd, {at, 1, length, 0, 0, 0, 0, 0}); }
    void address_text(int at, int length) { record(o_loadsad, {at, 1, length, 0, 0, 0, 0, 0}); }
    void store_text(int at, int length) { record(o_storsd, {at, 1, length, 0, 0, 0, 0, 0}); }
    // FOR cell = 1 TO turns ... NEXT as the compiler writes it: the test at the top, the step and a
    // jump back at the bottom; body writes the statements in between.
    template <class Body> void counted_loop(int cell, long turns, Body body)
    {
        constant("1"), store(cell);
        const int top = words;
        load(cell), constant(std::to_string(turns).c_str()), constant("1");
        op(o_cmpidx);
        const std::size_t exit = label_to_place();
        end();
        body();
        load(cell), constant("1"), record(o_add, {}), store(cell);
        op(o_jump), l(top), end();
        place(exit);
    }
    // One I/O statement: each parameter (pushed by push) stored by ioc, then callio with the
    // nargs values that values pushes.
    template <class Params, class Values> void statement(CallioCode code, Params params, int nargs, Values values)
    {
        params();
        values();
        record(o_callio, {code, nargs});
    }
    void parameter(IocCode code) { record(o_ioc, {code}); }

    // A section (symbol table, ...): its op byte and its lines.
    void section(unsigned code, const std::string &lines) { out += static_cast<char>(code), out += lines; }

    // Writes the object file named name (its compiled-in name) to path; numerics and characters
    // are the local areas of all routines.
    void save(const std::string &path, const char *name, int numerics, int characters) const
    {
        if (!numsys_key) AcquireKeys();
        char header[512];
        std::snprintf(header, sizeof header, "V150611 70 %d %d %d %d %d 0 %d 0 0 %d %s 0 - %s\n", words, constants, 0,
                      numerics, chars, characters, numsys_keylen, numsys_key, name);
        const std::string file = header + out;
        g_file_set_contents(path.c_str(), file.data(), static_cast<gssize>(file.size()), nullptr);
    }
};

// Readies the process for loading programs (once), then loads the object file at path into a new
// interpreter context, as start-up loads the first program.
inline Interp_t *load_object(const std::string &path)
{
    static const bool started = [] {
        AcquireKeys();
        ZERO_DEC = dec_t{0, 1, 0, {}};
        phase = executing;
        return true;
    }();
    (void)started;
    auto *context = Calloc(1, Interp_t);
    context->Stk = Calloc(STACKSIZE, Stack);
    std::string object_path = path;
    object = object_path.data();
    LoadCode(context);
    object = nullptr;
    return context;
}

// Runs the loaded program once from its start, as a fresh run does.
inline void run_program(Interp_t *context)
{
    sp = -1;
    depth = 0;
    push_interpreter(context, nullptr, "");
    Execute(context->code[0]);
}
