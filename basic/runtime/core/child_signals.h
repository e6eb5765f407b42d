// The signal state a program started by the run-time begins with. The run-time ignores SIGPIPE
// and catches the rest, and threads of its own may block signals; a program it starts expects
// every disposition at its default and nothing blocked, as when a shell starts it (a script that
// inherits SIGPIPE ignored never ends when its reader goes away). Every fork before exec and
// every g_spawn goes through here.
#pragma once

#include <glib.h>

// In a forked child before exec: every signal's disposition to its default and an empty mask.
// Only async-signal-safe calls.
void reset_child_signals() noexcept;

// The same as a GSpawnChildSetupFunc (the argument is not used).
void reset_child_signals_setup(gpointer) noexcept;
