// The file-channel I/O statements as the executor reaches them: ioc stores one parameter of the
// statement being built into the I/O control block, callio runs the statement.
#pragma once

union Code;
struct Routine;

// Stores the parameter at stack index last under the IOC code.
void ioc(int code, int last);
// Runs the statement of the CALLIO code with the nargs entries ending at last.
void callio(int code, int nargs, int last, Routine *routine);
// The error label of the statement being built, else its end-of-file label, else nullptr.
Code *ioc_trap_label();
// Frees the texts the control block owns and resets it from the defaults.
void ioc_reset();
