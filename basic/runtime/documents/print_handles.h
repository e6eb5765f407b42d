// Print handles and the print buffer file.
//
// A program writes a report once, record by record, through a print handle into a buffer file
// (IPSOPEN, IPSHEADER, IPSFOOTER, IPSWRITE, IPSCLOSE) and replays that file as often as it likes
// into PostScript or a drill window. A handle belongs to the control matrix given to IPSCREATE
// and lives until IPSDESTROY or until that matrix is freed; either removes its buffer file.
//
// The buffer file is text: a record is a line holding its type, then one line per field, each the
// field type, a TAB, the value and a line feed. Text values never hold a line feed.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <sys/types.h>

struct ControlMatrix_t;
struct GlobalData_t;
struct PrintState_t;

// Record types of the buffer file.
enum PrintRecord { PR_OPEN = 1, PR_HEADER = 2, PR_FOOTER = 3, PR_WRITE = 4, PR_CLOSE = 5 };
// Field types: text, integer ("%d"), real ("%f").
enum PrintField { PF_TEXT = 1, PF_INTEGER = 2, PF_REAL = 3 };

struct PrintHandle_t {
    std::FILE *buffer;     // open for writing from IPSOPEN to IPSCLOSE, for reading during a replay
    char *path;            // absolute path of the buffer file, set by IPSOPEN
    PrintState_t *state;   // the renderer's state while a replay runs
    PrintHandle_t *prior;  // the handles of one control matrix, in creation order
    PrintHandle_t *next;
    int writing;           // 1 while buffer is open for writing
    dev_t device;          // the buffer file this handle made: only that one is removed
    ino_t inode;
    int keep;              // a descriptor of that file while path is set, so its inode is not reused
};

// The control matrix whose list holds handle (the matrices of global_data's chain, then the
// deferred ones), or nullptr when it is no live handle. handle is compared, never read.
ControlMatrix_t *psprint_handle_owner(GlobalData_t *gd, const PrintHandle_t *handle);

// Takes handle out of its control matrix's list (if it is in one), frees a print state left by a
// replay, removes its buffer file when it is still the one this handle made, closes its stream
// and frees it.
void psdestroy_print_handle(GlobalData_t *gd, PrintHandle_t *handle);
// Destroys every handle of cm, first to last (the clean-up of a freed control matrix).
void free_print_handles(ControlMatrix_t *cm);

// ---- Writers --------------------------------------------------------------------------------------
// Each checks its text values and ends the run with "Unexpected line feed encountered" before
// writing a record that would hold one. Reals are written in the C notation whatever the locale.
void psprint_write_record_type(std::FILE *buffer, int type);
void psprint_write_text(std::FILE *buffer, std::string_view text);
void psprint_write_integer(std::FILE *buffer, int value);
void psprint_write_real(std::FILE *buffer, double value);

// ---- Readers (shared by the replays) --------------------------------------------------------------
// Opens the handle's buffer file for reading into handle->buffer.
void psprint_open_buffer(PrintHandle_t *handle);
// Closes it again and clears handle->buffer.
void psprint_close_buffer(PrintHandle_t *handle);
// The next record's type: an empty line (so the end of the file) is PR_CLOSE; a type outside 1..5
// ends the run.
int psprint_read_record_type(std::FILE *buffer);
// The next field's value, which must be of that field type.
std::string psprint_read_text(std::FILE *buffer);
int psprint_read_integer(std::FILE *buffer);
float psprint_read_real(std::FILE *buffer);

// ---- Intrinsics (statements; arguments read from the last to the first) ---------------------------
void ipscreate(int nargs, int last);   // IPSCREATE (cm, handle variable)
void ipsopen(int nargs, int last);     // IPSOPEN (name, form, margins, format, colour, gutter, handle, result)
void ipsheader(int nargs, int last);   // IPSHEADER (handle, text, format, level, new page, store only, gap, keep, result)
void ipsfooter(int nargs, int last);   // IPSFOOTER (handle, text, format, result)
void ipswrite(int nargs, int last);    // IPSWRITE (handle, text, format, value, result [, keep])
void ipsclose(int nargs, int last);    // IPSCLOSE (handle, result)
void ipsdestroy(int nargs, int last);  // IPSDESTROY (handle variable)
