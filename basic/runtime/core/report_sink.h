// Where the error calls send their reports. Abort, Xerror, Syserr, Email and Debug format their
// message and hand it to the report sink; the run-time's own sink (standard_report) makes the
// report: the log, the message box, the mail with its traces, the crash-dump offer, and for a
// fatal report the end of the process. A test installs a sink of its own to see the texts
// without any report being made.
#pragma once

enum class ReportKind {
    fatal,      // Abort, and Xerror with a code other than 110: the sink must not return
    trappable,  // Xerror 110: once the sink returns, the error unwinds to the program's trap
    system,     // Syserr: once the sink returns, it unwinds as a trappable error does
    mail,       // Email
    debug,      // Debug (mailed to the transaction address)
};

struct Report {
    ReportKind kind;
    const char *text;       // the formatted message
    const char *recipient;  // mail and debug: the address, nullptr for support
    int error_number;       // system: errno when Syserr was called
};

using ReportSink = void (*)(const Report &report);

// Installs sink (nullptr: the run-time's own) and returns the one it replaces. Xerror and Syserr
// count the error and set the exit status before they call the sink, whichever it is. A sink
// that returns from a fatal report is overruled: the run-time's own report then ends the process.
ReportSink set_report_sink(ReportSink sink);

// The run-time's own sink.
void standard_report(const Report &report);

// Makes an allocation failure (std::bad_alloc) that nothing catches end in the fatal report "Out of
// memory" instead of std::terminate's message, abort and core. lumba_main installs it first.
void report_unhandled_allocation_failures();
