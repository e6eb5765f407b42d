// Calls an intrinsic through its dispatcher as the executor does: the arguments on a value stack of
// the caller's own, the intrinsic's name as the running routine's, the result taken off the result
// entry. What the test program had in Stk, sp and Rname comes back when the caller goes, so a
// fixture may hold one for a whole test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "executor.h"  // Convert_BCD
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "run_time.h"
#include "test_host.h"
#include "value_stack.h"

namespace lumba_test {

// A string variable of the test's own that an intrinsic may store into: width bytes of storage
// (its declared width) and a terminator.
struct StringVariable {
    explicit StringVariable(std::size_t width) : area(width + 1, '\0') {}
    std::size_t width() const { return area.size() - 1; }
    std::string text() const { return std::string(area.data(), strnlen(area.data(), width())); }
    std::vector<char> area;
};

// An argument as the executor pushes it.
struct Arg {
    enum Kind {
        blank,            // an entry left zeroed: only the count matters
        number,           // a whole number, or a handle (an address) as one
        decimal,          // a number written as text, "-12.50"
        text,             // a text the test owns, of a declared width (its length when 0)
        variable,         // a numeric variable by reference
        string_variable,  // a string variable by reference
        structure,        // a structure variable: its record and the routine that declares it
    } kind = blank;
    long n = 0;
    std::string s = {};
    std::uint32_t width = 0;
    dec_t *var = nullptr;
    StringVariable *svar = nullptr;
    void *record = nullptr;
    const void *routine = nullptr;
};
// The arguments' makers, apart from program_text.h's zasm pieces of the same names.
namespace args {
inline Arg num(long n) { return {.kind = Arg::number, .n = n}; }
inline Arg num(int n) { return num(long{n}); }
inline Arg num(const void *p) { return num(reinterpret_cast<long>(p)); }
inline Arg dec(std::string s) { return {.kind = Arg::decimal, .s = std::move(s)}; }
inline Arg str(std::string s, std::uint32_t width = 0)
{
    return {.kind = Arg::text, .s = std::move(s), .width = width};
}
inline Arg var(dec_t &d) { return {.kind = Arg::variable, .var = &d}; }
inline Arg svar(StringVariable &v) { return {.kind = Arg::string_variable, .svar = &v}; }
inline Arg structure(void *record, const void *routine)
{
    return {.kind = Arg::structure, .record = record, .routine = routine};
}
inline std::vector<Arg> blanks(int n) { return std::vector<Arg>(static_cast<std::size_t>(n)); }
}  // namespace args

inline dec_t decimal(long n)
{
    dec_t d{};
    NumericCvLONG(n, &d);
    return d;
}

inline long as_long(const dec_t &d)
{
    long v = 0;
    NumericToLONG(&d, &v);
    return v;
}

// What call gives, or "stop: <message>" when it stops (AbortError: the test host's or the report
// sink's Abort).
template <class F> std::string outcome(F &&call)
{
    std::string out;
    const std::string stop = abort_text([&] { out = call(); });
    return stop.empty() ? out : "stop: " + stop;
}

// A stop reaches the caller as AbortError.
class IntrinsicCall {
public:
    IntrinsicCall() : saved_stack_(Stk), saved_sp_(sp), saved_name_(Rname) { Stk = stack_; }
    ~IntrinsicCall()
    {
        Stk = saved_stack_;
        sp = saved_sp_;
        Rname = saved_name_;
    }
    IntrinsicCall(const IntrinsicCall &) = delete;
    IntrinsicCall &operator=(const IntrinsicCall &) = delete;

    // The value of a numeric intrinsic as a whole number, and as its shortest text.
    long numeric(int code, const std::vector<Arg> &args) { return as_long(result_of(code, args)); }
    std::string number(int code, const std::vector<Arg> &args)
    {
        dec_t d = result_of(code, args);
        return Convert_BCD(&d);
    }
    // The text of a string intrinsic; an owned result text is freed as popping it would.
    std::string text(int code, const std::vector<Arg> &args = {})
    {
        Stack result{};
        const int n = place(code, args);
        s_intrins(&result, code, n, sp);
        EXPECT_EQ(result.s_t, string) << intrinsic_name(code);
        std::string t(result.s_c.C_S ? result.s_c.C_S : "", result.s_c.C_S ? result.length : 0);
        if (!(result.flags & stk_ref)) sfree(result.s_c.C_S);
        return t;
    }
    void statement(int code, const std::vector<Arg> &args)
    {
        const int n = place(code, args);
        c_intrins(code, n, sp);
    }

private:
    dec_t result_of(int code, const std::vector<Arg> &args)
    {
        Stack result{};
        const int n = place(code, args);
        r_intrins(&result, code, n, sp);
        return result.num;
    }

    static const char *intrinsic_name(int code) { return code >= 0 && code < IN_ROWS ? inbuilt[code].F_name : "?"; }

    int place(int code, const std::vector<Arg> &args)
    {
        EXPECT_LE(args.size(), std::size_t{STACKSIZE});
        texts_.clear();
        Stk = stack_;  // a fixture's set-up may have pointed it elsewhere (a loaded program's context)
        sp = -1;
        for (const Arg &a : args) lay(stack_[++sp], a);
        // The executor names the intrinsic as the running routine while it runs (log lines and
        // stops say it); an out-of-range code keeps the name it found.
        if (code >= 0 && code < IN_ROWS) Rname = inbuilt[code].F_name;
        return sp + 1;
    }

    void lay(Stack &e, const Arg &a)
    {
        e = Stack{};
        switch (a.kind) {
        case Arg::blank: break;
        case Arg::number:
            e.s_t = real;
            NumericCvLONG(a.n, &e.num);
            e.s_c.C_N = &e.num;
            break;
        case Arg::decimal:
            e.s_t = real;
            NumericCvASC(a.s.c_str(), static_cast<int>(a.s.size()), &e.num);
            e.s_c.C_N = &e.num;
            break;
        case Arg::text:
            texts_.push_back(a.s);
            e.s_t = string;
            e.flags = stk_ref;  // the test owns the text
            e.s_c.C_S = texts_.back().data();
            e.length = static_cast<std::uint32_t>(a.s.size());
            e.s_dims[0] = a.width ? a.width : e.length;
            break;
        case Arg::variable:
            e.s_t = real;
            e.s_c.C_N = a.var;
            e.flags = stk_ref;
            break;
        case Arg::string_variable:
            e.s_t = string;
            e.flags = stk_ref;
            e.s_c.C_S = a.svar->area.data();
            e.length = static_cast<std::uint32_t>(std::strlen(a.svar->area.data()));
            e.s_dims[0] = static_cast<std::uint32_t>(a.svar->width());
            break;
        case Arg::structure:
            e.s_t = bstruct;
            e.flags = stk_ref;
            e.s_c.C_P = a.record;
            e.params[0] = reinterpret_cast<Address>(a.routine);
            break;
        }
    }

    Stack stack_[STACKSIZE] = {};
    std::deque<std::string> texts_;  // stable addresses while entries point into them
    Stack *saved_stack_;
    int saved_sp_;
    const char *saved_name_;
};

// The same calls with a stop given back as its text, "stop: <message>", in place of the value (a
// statement gives "" once done): for tables whose cases end either way.
class IntrinsicOutcome {
public:
    std::string number(int code, const std::vector<Arg> &args)
    {
        return outcome([&] { return call_.number(code, args); });
    }
    std::string text(int code, const std::vector<Arg> &args)
    {
        return outcome([&] { return call_.text(code, args); });
    }
    std::string statement(int code, const std::vector<Arg> &args)
    {
        return outcome([&] {
            call_.statement(code, args);
            return std::string();
        });
    }

private:
    IntrinsicCall call_;
};

// What a call gave and what it wrote to standard error meanwhile (reports, log lines).
struct WithStderr {
    std::string value;
    std::string err;
};
template <class F> WithStderr with_stderr(F &&call)
{
    testing::internal::CaptureStderr();
    WithStderr o;
    o.value = call();
    o.err = testing::internal::GetCapturedStderr();
    return o;
}

}  // namespace lumba_test
