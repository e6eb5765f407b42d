// The file-channel I/O statements as the executor reaches them: ioc stores one parameter of the
// statement being built into the I/O control block, callio runs the statement. Also the channel
// table and the region locks that mark, between processes, how each channel uses its file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <sys/stat.h>

#include <glib.h>

#include "stack.h"

union Code;
struct Routine;

// ---- The I/O control block ----------------------------------------------------------------------

// One statement's parameters. The texts are owned by the block and freed by ioc_reset.
struct IocBlock {
    char *file;
    char *format;
    char *prompt;
    char org;    // 'S' sequential, 'R' random, 'I' indexed (not provided)
    char mode;   // 'S' next record, 'R' record REC; 'P', 'N', 'G', 'F', 'L' indexed only
    int carr;    // line ends added after a written record
    int lfn;     // channel, negative: none
    int reclen;  // record length of a random file, -1: none
    int unit;    // directory number, negative: none
    int iunit;
    int opt;
    int rec;     // record number from 1, -1: none
    int lock;
    Stack nrec;  // copy of the NREC entry; a string text in it is owned by the block
    Code *eof;   // label taken when a READ meets the end of the file
    Code *erl;   // label taken on any other trappable I/O error
};

extern IocBlock Ioc;
extern IocBlock Io_defaults;

// Stores the parameter at stack index last under the IOC code.
void ioc(int code, int last);
// Runs the statement of the CALLIO code with the nargs entries ending at last.
void callio(int code, int nargs, int last, Routine *routine);
// The statement set an EOF or ERL label: the executor arms the I/O trap for it.
bool ioc_traps_set();
// The statement's error label (the I/O trap's handler), else nullptr.
Code *ioc_trap_label();
// The statement's end-of-file label, else nullptr (Io_error makes it the handler for code 110).
Code *ioc_eof_label();
// Frees the texts the control block owns and resets it from the defaults.
void ioc_reset();
// The error call of the I/O statements: code into IOERR_REG, then Xerror (system 0) or Syserr
// with the message. An end of file (code 110) goes to the statement's EOF label when it has one.
[[noreturn]] void Io_error(int code, int system, const char *format, ...) G_GNUC_PRINTF(3, 4);

// ---- Channels ----------------------------------------------------------------------------------

inline constexpr int FILE_TABLE_SIZE = 512;
inline constexpr int REPORT_LFN = 255;       // the report channel; no entry in the table
inline constexpr int RECORD_MAX = 4096;      // longest line or record

// One statement's record: a line of at most 4096 characters or one record of at most 4096
// bytes, and a terminating zero. READ fills it (of a longer line, the first 4096 characters: the
// whole line is read, so the next READ starts at the next one); WRITE appends one item per value.
struct RecordBuffer {
    char text[RECORD_MAX + 1];
    std::size_t length;
};

struct FileChannel_t;
using ChannelOp = void (*)(FileChannel_t *channel, RecordBuffer &record);

struct FileChannel_t {
    char *name;         // path opened; nullptr while closed
    int unit;           // UNIT given at OPEN
    std::FILE *stream;
    int descriptor;     // -1 while closed: this field alone says whether the channel is open
    int random;         // 1 for ORG "R"
    int reclen;
    int append_descriptor;  // random channel opened to add records: an O_APPEND descriptor of the
                            // same file, so that a plain write lands at the end whatever other
                            // processes append meanwhile; -1 otherwise
    off_t position;     // random channel: where the next record without REC is read or written,
                        // the descriptor's own offset being left alone (records move by pread and
                        // pwrite); -1 for a descriptor that cannot seek, which reads where it stands
    int read_descriptor;  // a read-only descriptor of a write-only channel's file, opened when the
                          // file is copied while the channel holds it and closed with the channel
                          // (closing it sooner would drop the region locks); -1 otherwise
    ChannelOp read, write, del;
};

extern FileChannel_t File_table[FILE_TABLE_SIZE];

// A descriptor that reads the file st describes, when an open channel holds that file: the
// channel's own when it reads, else one the channel keeps for it. It belongs to the channel and
// must not be closed (closing any descriptor of a file drops the process's region locks on it);
// read it by offset (pread), so the channel's position stays. -1 with errno 0 when no channel
// holds the file, -1 with errno set when the descriptor cannot be had.
int channel_read_descriptor(const struct stat &st);

// Start-up: every channel closed, the control block at its defaults.
void initialize_files();
// Exit: closes every channel still open below max_files.
void close_files();

// ---- Region locks ------------------------------------------------------------------------------

inline constexpr long LOCK_REGION_BASE = 67108864;  // 64 MiB: beyond the data of any ordinary file
inline constexpr int LOCK_REGION_SIZE = 64;
inline constexpr int SHARE_SLOTS = 32;

// fcntl record lock on len bytes from the descriptor's position. Modes: 0 unlock, 1 write lock
// (waiting), 2 write lock, 3 read lock (waiting), 4 read lock. 0 when had, else -1.
int locking(int fd, int mode, long len);
// Locks the first free slot of step bytes among count bytes from offset (not waiting); the
// descriptor's position is kept. 0 when a slot was had.
int rglock(int fd, long offset, long count, long step);
// The open lock of kind m in region n: 0 reader, 1 shared writer, 2 sole writer, 3 exclusive.
int filock(int fd, int m, int n);
