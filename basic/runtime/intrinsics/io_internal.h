// What the parts of the I/O statements share inside the intrinsics library.
#pragma once

#include "fileio.h"

// One FORMAT item: a run of '9' (numeric, with decimals after a '.') or a run of 'X' (string).
struct FormatItem {
    bool numeric;
    int width;
    int decimals;
};

// Takes the next item at cursor for a value of the kind (numeric or string), moving the cursor
// past it and its comma; a missing or wrong item ends the run (code 304).
FormatItem decode_format(const char *&cursor, bool numeric);

// The channel of the statement's LFN for statement (nullptr for the report channel is not
// returned: callers handle LFN 255 first). A negative LFN ends the run.
FileChannel_t *statement_channel(const char *statement);
int channel_number(const FileChannel_t *channel);

// The statements that manage channels (fileio.cpp).
void io_allocate();
void io_open();
void io_close();
void io_delete();
void io_rename();
void io_rewind();

// LOGEMAIL, LOGPRINT, TPRINT and PRINT over the nargs values ending at last (logprint.cpp).
void log_email(int nargs, int last);
void log_print(int nargs, int last);
void terminal_print(int nargs, int last);
