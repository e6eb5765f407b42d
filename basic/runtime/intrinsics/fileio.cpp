// File channels: the table of numbered channels, the record operations chosen at OPEN, and the
// statements that open, close, rename, rewind and allocate files.
//
// Sequential channels (ORG "S") read and write lines through their stdio stream; random channels
// (ORG "R") read and write fixed-length records on the descriptor only, so the stream never
// buffers anything of theirs. Every descriptor is opened close-on-exec.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "hooks.h"
#include "io_internal.h"
#include "mem_mgt.h"
#include "message.h"
#include "run_time.h"
#include "shared_files.h"
#include "signals.h"

FileChannel_t File_table[FILE_TABLE_SIZE];

namespace {

// ---- Record operations --------------------------------------------------------------------------

void file_NOP(FileChannel_t *channel, RecordBuffer &)
{
    Io_error(302, 0, "Invalid operation on LFN %d", channel_number(channel));
}

void filedel_NOP(FileChannel_t *channel, RecordBuffer &)
{
    Io_error(302, 0, "Invalid delete operation on LFN %d", channel_number(channel));
}

bool indexed_mode(char mode) { return mode && std::strchr("FGLNP", mode); }

void seq_read(FileChannel_t *channel, RecordBuffer &record)
{
    if (indexed_mode(Ioc.mode)) Io_error(301, 0, "Access mode applies only to ISAM files");
    if (Ioc.mode == 'R') Io_error(301, 0, "Attempt to access sequential file %s randomly", channel->name);
    // One line: its first RECORD_MAX characters are the record; the rest of a longer line is read
    // and dropped, so that the next READ starts at the next line. Only the interpreter thread
    // reads channels, so the stream is read without taking its lock for every character.
    std::FILE *in = channel->stream;
    std::size_t n = 0;
    bool any = false;
    for (;;) {
        errno = 0;
        const int c = getc_unlocked(in);
        if (c == EOF) {
            if (std::ferror(in)) {
                const int e = errno ? errno : EIO;
                std::clearerr(in);
                if (interrupted(e)) continue;  // a signal that ends the run does so here
                errno = e;
                Io_error(e, 1, "I/O Error reading file \"%s\" : ", channel->name);
            }
            if (!any) Io_error(TRAPPABLE_ERROR, 0, "Attempt to READ past end-of-file on LFN %d", channel_number(channel));
            break;  // a last line without its line end
        }
        any = true;
        if (c == '\n') break;
        if (n < RECORD_MAX) record.text[n++] = static_cast<char>(c);
    }
    record.text[n] = '\0';
    // The text ends at the first zero byte, as a random record's does.
    record.length = strnlen(record.text, n);
}

// Offsets below this are positioned by pread and pwrite alone: every file system takes them. A
// larger or negative one is sought first, so that one the file system refuses is reported as the
// seek error it is.
constexpr off_t PLAIN_OFFSET = off_t{1} << 31;

// Where record REC starts.
off_t record_offset(FileChannel_t *channel)
{
    if (Ioc.rec < 0) Io_error(301, 0, "Record parameter missing");
    const off_t at = static_cast<off_t>(Ioc.rec - 1) * channel->reclen;
    if ((channel->position < 0 || at < 0 || at >= PLAIN_OFFSET) && lseek(channel->descriptor, at, SEEK_SET) == -1)
        Io_error(errno, 1, "Random seek error");
    return at;
}

// Moves the channel's position past n bytes read or written at offset at.
void moved_to(FileChannel_t *channel, off_t at, std::size_t n)
{
    if (channel->position >= 0) channel->position = at + static_cast<off_t>(n);
}

void ran_read(FileChannel_t *channel, RecordBuffer &record)
{
    if (indexed_mode(Ioc.mode)) Io_error(301, 0, "Access mode applies only to ISAM files");
    const off_t at = Ioc.mode == 'R' ? record_offset(channel) : channel->position;
    const int fd = channel->descriptor;
    const std::size_t want = static_cast<std::size_t>(channel->reclen);
    std::size_t got = 0;
    moved_to(channel, at, 0);
    while (got < want) {
        const ssize_t n = channel->position >= 0 ? ::pread(fd, record.text + got, want - got, at + static_cast<off_t>(got))
                                                 : ::read(fd, record.text + got, want - got);
        if (n < 0 && interrupted(errno)) continue;
        if (n < 0) Io_error(errno, 1, "Random READ error");
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
        moved_to(channel, at, got);
    }
    if (got == 0) Io_error(TRAPPABLE_ERROR, 0, "Attempt to READ past end-of-file on LFN %d", channel_number(channel));
    if (got < want) Io_error(303, 0, "Record too short on LFN %d", channel_number(channel));
    record.text[got] = '\0';
    record.length = strnlen(record.text, got);
}

void seq_write(FileChannel_t *channel, RecordBuffer &record)
{
    if (Ioc.mode == 'P') Io_error(301, 0, "MODE=\"P\" applies only to ISAM files");
    if (Ioc.mode == 'R') Io_error(301, 0, "Attempt to access sequential file %s randomly", channel->name);
    bool ok = std::fwrite(record.text, 1, record.length, channel->stream) == record.length;
    for (int i = 0; ok && i < Ioc.carr; ++i) ok = std::fputc('\n', channel->stream) != EOF;
    // Each statement's record reaches the file before the next statement, so a write error is
    // reported by the statement that caused it and other processes see whole records. What a
    // signal interrupted stays in the stream's buffer and is flushed again.
    while (ok && std::fflush(channel->stream) != 0) {
        const int e = errno;
        if (!interrupted(e)) {
            ok = false;
            break;
        }
        std::clearerr(channel->stream);
    }
    if (!ok) {
        const int e = errno ? errno : EIO;
        std::clearerr(channel->stream);
        errno = e;
        Io_error(e, 1, "I/O Error writing to file \"%s\" ", channel->name);
    }
}

void ran_write(FileChannel_t *channel, RecordBuffer &record)
{
    if (Ioc.mode == 'P') Io_error(301, 0, "MODE=\"P\" applies only to ISAM files");
    // A record added goes through the O_APPEND descriptor, whose every write the system puts at
    // the end of the file as one step: two processes adding records never write over each other.
    // A write by record number is positioned on the channel's own descriptor.
    int fd = channel->descriptor;
    off_t at = channel->position;
    const bool appended = Ioc.mode != 'R' && channel->append_descriptor >= 0;
    if (Ioc.mode == 'R')
        at = record_offset(channel);
    else if (appended)
        fd = channel->append_descriptor;
    const bool positioned = !appended && channel->position >= 0;
    // The text, its zero byte and zero filler up to the record length: never stale bytes.
    const std::size_t want = static_cast<std::size_t>(channel->reclen);
    std::memset(record.text + record.length, 0, want + 1 - record.length);  // WRITE kept length <= reclen
    std::size_t put = 0;
    if (positioned) moved_to(channel, at, 0);
    while (put < want) {
        const ssize_t n = positioned ? ::pwrite(fd, record.text + put, want - put, at + static_cast<off_t>(put))
                                     : ::write(fd, record.text + put, want - put);
        if (n < 0 && interrupted(errno)) continue;
        if (n <= 0) break;
        put += static_cast<std::size_t>(n);
        if (positioned) moved_to(channel, at, put);
    }
    if (put < want) Io_error(27, 0, "Limit reached - partial record written");
}

// ---- Paths and the open table -----------------------------------------------------------------

// FILE as it stands, or "unit<N>/FILE" when a unit is given.
std::string build_path(int unit, const char *file)
{
    if (unit < 0) return file;
    return "unit" + std::to_string(unit) + "/" + file;
}

const char *need_file(const char *statement)
{
    if (!Ioc.file) Io_error(301, 0, "%s: FILE parameter missing", statement);
    return Ioc.file;
}

// How each OPEN option opens the file. "a" on a random channel adds records at the end through a
// second descriptor with O_APPEND; the channel's own has none, so that a write by record number
// replaces that record.
struct OpenWay {
    char org;
    int opt;
    int flags;
    const char *stream_mode;
    ChannelOp read, write;
    int lock_kind;
    bool append;
};

constexpr int CREATE_APPEND = O_WRONLY | O_CREAT | O_APPEND;
constexpr int CREATE_TRUNC = O_WRONLY | O_CREAT | O_TRUNC;

const OpenWay open_ways[] = {
    {'R', 0, O_RDONLY, "r", ran_read, file_NOP, 0, false},
    {'R', 4, O_RDONLY, "r", ran_read, file_NOP, 0, false},
    {'R', 1, O_WRONLY | O_CREAT, "w", file_NOP, ran_write, 3, true},
    {'R', 2, O_WRONLY | O_CREAT, "w", file_NOP, ran_write, 3, true},
    {'R', 3, O_RDWR, "r+", ran_read, ran_write, 1, false},
    {'R', 5, O_RDWR, "r+", ran_read, ran_write, 2, false},
    {'R', 6, O_RDWR, "r+", ran_read, ran_write, 3, false},
    {'R', 7, O_RDONLY, "r", ran_read, file_NOP, 3, false},
    {'S', 0, O_RDONLY, "r", seq_read, file_NOP, 0, false},
    {'S', 1, CREATE_TRUNC, "w", file_NOP, seq_write, 3, false},
    {'S', 2, CREATE_APPEND, "a", file_NOP, seq_write, 3, false},
    {'S', 7, O_RDONLY, "r", seq_read, file_NOP, 3, false},
};

const OpenWay *open_way(char org, int opt)
{
    for (const auto &w : open_ways)
        if (w.org == org && w.opt == opt) return &w;
    return nullptr;
}

void release_channel(FileChannel_t *channel)
{
    if (channel->name) sfree(channel->name);
    if (channel->append_descriptor >= 0) ::close(channel->append_descriptor);
    if (channel->read_descriptor >= 0) ::close(channel->read_descriptor);
    channel->name = nullptr;
    channel->stream = nullptr;
    channel->descriptor = channel->append_descriptor = channel->read_descriptor = -1;
    channel->random = channel->reclen = 0;
    channel->position = -1;
}

// A second descriptor of the very file fd has open (not of whatever the path names by now), opened
// with flags: -1 with errno set when it cannot be had.
int descriptor_of(int fd, int flags)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::open(self.c_str(), flags | O_CLOEXEC);
}

int append_descriptor_of(int fd) { return descriptor_of(fd, O_WRONLY | O_APPEND); }

bool holds(const FileChannel_t &channel, const struct stat &st)
{
    struct stat held;
    return channel.descriptor >= 0 && fstat(channel.descriptor, &held) == 0 && held.st_dev == st.st_dev &&
           held.st_ino == st.st_ino;
}

} // namespace

// ---- Channels -----------------------------------------------------------------------------------

int channel_number(const FileChannel_t *channel) { return static_cast<int>(channel - File_table); }

int channel_read_descriptor(const struct stat &st)
{
    FileChannel_t *writer = nullptr;
    for (auto &channel : File_table) {
        if (!holds(channel, st)) continue;
        if (channel.read_descriptor >= 0) return channel.read_descriptor;
        const int flags = fcntl(channel.descriptor, F_GETFL);
        if (flags != -1 && (flags & O_ACCMODE) != O_WRONLY) return channel.descriptor;
        if (!writer) writer = &channel;
    }
    errno = 0;
    if (!writer) return -1;
    // Kept until the channel closes, when the locks go anyway.
    writer->read_descriptor = descriptor_of(writer->descriptor, O_RDONLY);
    return writer->read_descriptor;
}

FileChannel_t *statement_channel(const char *statement)
{
    if (Ioc.lfn < 0 || Ioc.lfn >= FILE_TABLE_SIZE) Io_error(301, 0, "%s: LFN parameter missing", statement);
    return &File_table[Ioc.lfn];
}

void initialize_files()
{
    for (auto &channel : File_table) {
        channel = FileChannel_t{};
        channel.descriptor = channel.append_descriptor = channel.read_descriptor = -1;
        channel.position = -1;
        channel.read = channel.write = file_NOP;
        channel.del = filedel_NOP;
    }
    Ioc = Io_defaults;
}

void close_files()
{
    const int n = max_files < FILE_TABLE_SIZE ? max_files : FILE_TABLE_SIZE;
    for (int i = 0; i < n; ++i) {
        FileChannel_t &channel = File_table[i];
        if (channel.descriptor == -1 || !channel.stream) continue;
        const int r = std::fclose(channel.stream);
        if (r != 0) Warn("Error %d closing \"%s\"", r, channel.name ? channel.name : "");
        release_channel(&channel);
    }
}

// ---- Statements ---------------------------------------------------------------------------------

void io_allocate()
{
    const std::string path = build_path(Ioc.unit, need_file("ALLOCATE"));
    if (Ioc.org == 'I') Io_error(301, 0, "ALLOCATE: No DISAM available");
    if (Ioc.org != 'R' && Ioc.org != 'S') Io_error(301, 0, "ALLOCATE: invalid ORG");
    const int fd = open_by_name(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0660);
    if (fd == -1) Io_error(errno, 1, "ALLOCATE \"%s\" failed: ", path.c_str());
    ::close(fd);
}

void io_open()
{
    if (Ioc.lfn == REPORT_LFN) {
        window_hooks().message("Call to report_open needs replication callio line 236", "error");
        return;
    }
    FileChannel_t *channel = statement_channel("OPEN");
    const int lfn = channel_number(channel);
    if (channel->descriptor != -1) Io_error(300, 0, "Attempt to open LFN %d which is already open", lfn);
    const std::string path = build_path(Ioc.unit, need_file("OPEN"));

    const OpenWay *way = nullptr;
    switch (Ioc.org) {
    case 'I': Io_error(301, 0, "OPEN: No DISAM available");
    case 'R':
        way = open_way('R', Ioc.opt);
        if (!way) Io_error(301, 0, "Missing or illegal OPT on OPEN of LFN %d", lfn);
        // Checked before the file is touched, so a refused OPEN creates nothing.
        if (Ioc.reclen < 1) Io_error(301, 0, "RECLEN must be specified for OPEN of random file");
        break;
    case 'S':
        way = open_way('S', Ioc.opt);
        if (!way) Io_error(301, 0, "Illegal OPT on OPEN of LFN %d", lfn);
        break;
    default: Io_error(301, 0, "OPEN: invalid ORG");
    }

    // Below a shared directory (temp, /tmp) only a plain file of the run's own is opened, never
    // through a link someone planted there, not even one for a directory on the way; a file
    // opened to be written anew ("w") is a new file put under the name. The refusal is the
    // open error.
    const int fd = open_by_name(path.c_str(), way->flags | O_CLOEXEC, 0666);
    if (fd == -1) Io_error(errno, 1, "Cannot open \"%s\" : ", path.c_str());
    const int append_fd = way->append ? append_descriptor_of(fd) : -1;
    std::FILE *stream = way->append && append_fd < 0 ? nullptr : fdopen(fd, way->stream_mode);
    if (!stream) {
        const int e = errno;
        ::close(fd);
        if (append_fd >= 0) ::close(append_fd);
        errno = e;
        Io_error(e, 1, "Cannot open \"%s\" : ", path.c_str());
    }
    channel->name = Strcpy(path.c_str());
    channel->unit = Ioc.unit;
    channel->stream = stream;
    channel->descriptor = fd;
    channel->random = Ioc.org == 'R';
    channel->reclen = channel->random ? Ioc.reclen : 0;
    channel->append_descriptor = append_fd;
    channel->position = channel->random && lseek(fd, 0, SEEK_CUR) == 0 ? 0 : -1;
    channel->read = way->read;
    channel->write = way->write;
    channel->del = filedel_NOP;
    // A marker for other processes; the OPEN goes on whether or not it was had.
    (void)filock(fd, way->lock_kind, 0);
}

void io_close()
{
    if (Ioc.lfn == REPORT_LFN) Io_error(300, 0, "CLOSE(LFN=255): no report open");
    FileChannel_t *channel = statement_channel("CLOSE");
    if (channel->descriptor == -1) return;
    // The channel is closed whatever fclose says: its stream is gone either way.
    std::string name = channel->name ? channel->name : "";
    std::FILE *stream = channel->stream;
    release_channel(channel);
    if (std::fclose(stream) != 0) Io_error(errno, 1, "Error closing file \"%s\" : ", name.c_str());
    if (Ioc.opt == 1 && unlink_by_name(name.c_str()) != 0) Io_error(errno, 1, "Error deleting file \"%s\" : ", name.c_str());
}

void io_delete()
{
    if (Ioc.lfn == REPORT_LFN) Io_error(302, 0, "DELETE attempt on LFN 255");
    FileChannel_t *channel = statement_channel("DELETE");
    if (channel->descriptor == -1)
        Io_error(101, 0, "Attempt to DELETE record on LFN %d which has not been opened", channel_number(channel));
    RecordBuffer record{};
    channel->del(channel, record);
}

void io_rename()
{
    if (Ioc.lfn == REPORT_LFN) Io_error(302, 0, "RENAME attempt on LFN 255");
    FileChannel_t *channel = statement_channel("RENAME");
    if (channel->descriptor == -1)
        Io_error(101, 0, "Attempt to RENAME LFN %d which has not been opened", channel_number(channel));
    const char *file = need_file("RENAME");
    const std::string path = build_path(channel->unit, file);
    if (link_by_name(channel->name, path.c_str()) != 0)
        Io_error(errno, 1, "Cannot link \"%s\" to \"%s\" : ", channel->name, file);
    if (unlink_by_name(channel->name) != 0) Io_error(errno, 1, "Error deleting file \"%s\" : ", channel->name);
    sfree(channel->name);
    channel->name = Strcpy(path.c_str());
}

void io_rewind()
{
    if (Ioc.lfn == REPORT_LFN) Io_error(302, 0, "REWIND attempt on LFN 255");
    FileChannel_t *channel = statement_channel("REWIND");
    if (channel->descriptor == -1)
        Io_error(101, 0, "Attempt to REWIND LFN %d which has not been opened", channel_number(channel));
    std::rewind(channel->stream);
    // A random channel reads and writes on the descriptor itself.
    if (channel->random) {
        lseek(channel->descriptor, 0, SEEK_SET);
        if (channel->position >= 0) channel->position = 0;
    }
}
