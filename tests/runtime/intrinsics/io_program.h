// zasm text for I/O statements: parameters are stored by ioc, then callio runs the statement.
// Variables live in routine main's local areas: numeric cell k, and strings at a byte offset with
// a maximum length.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include "op_codes.h"
#include "program_text.h"

namespace io_program {

using lumba_test::num;
using lumba_test::str;

using Param = std::pair<IocCode, std::string>;

// A statement: its parameters, then callio with the values pushed before it.
inline std::string stmt(CallioCode code, std::initializer_list<Param> params, const std::string &values = "",
                        int nargs = 0)
{
    std::string t;
    for (const auto &p : params) t += p.second + "ioc I:" + std::to_string(p.first) + "\n";
    return t + values + "callio I:" + std::to_string(code) + " I:" + std::to_string(nargs) + "\n";
}

inline Param lfn(int n) { return {ioc_lfn, num(n)}; }
inline Param file(const std::string &path) { return {ioc_file, str(path)}; }
inline Param org(const std::string &o) { return {ioc_org, str(o)}; }
inline Param opt(int n) { return {ioc_opt, num(n)}; }
inline Param reclen(int n) { return {ioc_reclen, num(n)}; }
inline Param mode(const std::string &m) { return {ioc_mode, str(m)}; }
inline Param rec(int n) { return {ioc_rec, num(n)}; }
inline Param carr(int n) { return {ioc_carr, num(n)}; }
inline Param format(const std::string &f) { return {ioc_format, str(f)}; }
inline Param eof(const std::string &label) { return {ioc_eof, ".label l:" + label + "\n"}; }
inline Param erl(const std::string &label) { return {ioc_erl, ".label l:" + label + "\n"}; }

inline std::string open_lfn(int n, const std::string &path, const std::string &o, int option,
                        std::initializer_list<Param> more = {})
{
    std::string t;
    for (const auto &p : more) t += p.second + "ioc I:" + std::to_string(p.first) + "\n";
    return t + stmt(callio_open, {lfn(n), file(path), org(o), opt(option)});
}
inline std::string close_lfn(int n) { return stmt(callio_close, {lfn(n)}); }

// Numeric cell k of main: by address (to read into) and by value.
inline std::string nvar(int k) { return "loadrad I:" + std::to_string(k) + " I:1 I:0 I:0 I:0\n"; }
inline std::string nval(int k) { return "loadrvd I:" + std::to_string(k) + " I:1 I:0 I:0 I:0\n"; }
// String of main at byte offset at with maximum length max.
inline std::string svar(int at, int max)
{
    return "loadsad I:" + std::to_string(at) + " I:1 I:" + std::to_string(max) + " I:0 I:0 I:0 I:0 I:0\n";
}
inline std::string sval(int at, int max)
{
    return "loadsvd I:" + std::to_string(at) + " I:1 I:" + std::to_string(max) + " I:0 I:0 I:0 I:0 I:0\n";
}

// LOGPRINT of the values.
inline std::string logprint(const std::string &values, int nargs)
{
    return stmt(callio_logprint, {}, values, nargs);
}

// Main with 8 numeric cells and 64 characters around body, ending with exit.
inline std::string main_program(const std::string &body, const std::string &data = "", int data_numbers = 0,
                                int data_chars = 0)
{
    return ".proc r:main I:" + std::to_string(data_numbers) + " I:" + std::to_string(data_chars) +
           " I:8 I:64 I:0 I:0\n" + data + body + "exit\n";
}

} // namespace io_program
