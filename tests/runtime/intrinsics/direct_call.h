// Calls an intrinsic through its dispatcher, as the executor does, with the arguments on a value
// stack of the test's own: results come back as text, a stop as "stop: <message>".
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "executor.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "run_time.h"
#include "test_host.h"
#include "value_stack.h"

namespace lumba_test {

// An argument: a text (with the declared width of the variable it came from, its length when 0)
// or a number written as text.
struct Arg {
    bool is_number;
    std::string value;
    std::uint32_t width = 0;
};
inline Arg S(std::string text, std::uint32_t width = 0) { return {false, std::move(text), width}; }
inline Arg N(const std::string &number) { return {true, number}; }
inline Arg N(long number) { return {true, std::to_string(number)}; }

class DirectCall {
public:
    DirectCall() : saved_stack_(Stk), saved_sp_(sp), saved_name_(Rname) { Stk = stack_; }
    ~DirectCall()
    {
        Stk = saved_stack_;
        sp = saved_sp_;
        Rname = saved_name_;
    }
    DirectCall(const DirectCall &) = delete;
    DirectCall &operator=(const DirectCall &) = delete;

    // The value of a numeric intrinsic as its shortest text.
    std::string number(int code, const std::vector<Arg> &args)
    {
        Stack result{};
        return call(code, args, [&](int n, int last) {
            r_intrins(&result, code, n, last);
            return std::string(Convert_BCD(&result.num));
        });
    }

    // The text of a string intrinsic.
    std::string text(int code, const std::vector<Arg> &args)
    {
        Stack result{};
        return call(code, args, [&](int n, int last) {
            s_intrins(&result, code, n, last);
            std::string t(result.s_c.C_S, result.length);
            sfree(result.s_c.C_S);
            return t;
        });
    }

    // "" once a statement is done.
    std::string statement(int code, const std::vector<Arg> &args)
    {
        return call(code, args, [&](int n, int last) {
            c_intrins(code, n, last);
            return std::string();
        });
    }

private:
    template <class F> std::string call(int code, const std::vector<Arg> &args, F &&dispatch)
    {
        texts_.clear();
        sp = -1;
        for (const Arg &a : args) {
            Stack &e = stack_[++sp];
            e = Stack{};
            if (a.is_number) {
                e.s_t = real;
                NumericCvASC(a.value.c_str(), static_cast<int>(a.value.size()), &e.num);
                e.s_c.C_N = &e.num;
            } else {
                texts_.push_back(a.value);
                e.s_t = string;
                e.flags = stk_ref;  // the test owns the text
                e.s_c.C_S = texts_.back().data();
                e.length = static_cast<std::uint32_t>(a.value.size());
                e.s_dims[0] = a.width ? a.width : e.length;
            }
        }
        Rname = inbuilt[code].F_name;
        std::string out;
        std::string stop = abort_text([&] { out = dispatch(static_cast<int>(args.size()), sp); });
        return stop.empty() ? out : "stop: " + stop;
    }

    Stack stack_[STACKSIZE] = {};
    std::deque<std::string> texts_;
    Stack *saved_stack_;
    int saved_sp_;
    const char *saved_name_;
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

} // namespace lumba_test
