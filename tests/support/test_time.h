// How long tests wait, and how long they let the run-time take. Tests must pass on a machine busy
// with other work: every wait is on a condition, with a time-out far above what a quiet machine
// needs, and every bound a test puts on the run-time lies far from both outcomes it separates.
// All of them are the named constants below, multiplied by LUMBA_TEST_TIME_SCALE (a positive
// number; 1 when unset or unreadable) for a machine slower than any seen so far. The support
// waits (wait_until, wait_drawn, wait_for_log_line, wait_blocked, GuiChild::wait) scale the
// time-outs they are given themselves; a test scales a bound it checks with scaled_ms().
#pragma once

#include <cstdlib>

namespace lumba_test {

// Waiting for what follows at once on a quiet machine: a window drawn, a log line, a focus. A
// sanitizer build of lumba_run took over 20 s to show its first window on eight cores carrying a
// load of about 45; a wait that is met returns at once, so the margin costs a passing test nothing.
constexpr int WAIT_MS = 40000;
// Waiting for a whole run of lumba_run (a GUI child, a program through a site) to end.
constexpr int RUN_WAIT_MS = 60000;
// "Promptly": a signal ends a stalled call, a lost display ends the run. What it interrupts
// lasts at least STALL_S, so a run that was not interrupted cannot pass for one that was.
constexpr int PROMPT_MS = 5000;
constexpr int STALL_S = 60;

inline double time_scale()
{
    const char *text = std::getenv("LUMBA_TEST_TIME_SCALE");
    if (!text || !*text) return 1.0;
    char *end = nullptr;
    const double scale = std::strtod(text, &end);
    return *end == '\0' && scale > 0 && scale <= 1000 ? scale : 1.0;
}

inline int scaled_ms(int ms)
{
    return static_cast<int>(ms * time_scale());
}

} // namespace lumba_test
