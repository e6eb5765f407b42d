// IPQVIDEOFRAMES: frames of a video kept in a large object, decoded with FFmpeg and written as
// PNG pictures.
//
// This side holds what needs the database and the site: the transaction around the reads, the
// large object and the pictures' files. The decoding is FFmpeg's, in the video module
// (video_module.h), opened on the first call.
#include "video_frames.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

#include <libpq/libpq-fs.h>

#include "gdata.h"
#include "libpq_calls.h"
#include "misc.h"
#include "modules.h"
#include "net_wait.h"
#include "pg.h"
#include "pg_internal.h"
#include "shared_files.h"
#include "video_module.h"

namespace {

constexpr const char *MAIN_PASS = "ipqvideoframes";
constexpr std::size_t NAME_SIZE = 4096;

VideoRandom random_source = ::random;

// Every line of the video code goes to the run-time log at level 3.
template <class... A> void vlog(const char *format, A... args)
{
    _mlog(1, 3, format, args...);
}

// The server's last message on conn without its line end.
std::string server_message(PGconn *conn)
{
    std::string m = libpq().PQerrorMessage(conn);
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m;
}

const VideoModule &video_module()
{
    static const VideoModule &module = module_table<VideoModule>(VIDEO_MODULE_FILE, VIDEO_MODULE_ENTRY, "Video frames");
    return module;
}

// FFmpeg's text for a result (at most 63 characters).
std::string av_text(int code)
{
    char text[64];
    video_module().error_text(code, text, sizeof text);
    return text;
}

// Writes the bytes to the file name, never through a symbolic link. Below a shared directory the
// picture is a new file of our own, put under the name once it is complete; false with errno set
// (nothing left under the name) when it cannot be written.
bool write_file(const char *name, const std::uint8_t *bytes, std::size_t size)
{
    NamedFile file(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666, NamedFile::ON_COMMIT);
    if (!file.ok()) return false;
    bool written = true;
    while (written && size > 0) {
        const ssize_t n = write(file.fd(), bytes, size);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (n == 0) errno = EIO;
        if (n > 0) {
            bytes += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    int error = errno;
    const int fd = file.release();
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && !file.commit()) {
        written = false;
        error = errno;
    }
    // A picture written in place is removed again; a new file not yet placed goes with file.
    if (!written && !file.exposed()) unlink(name);
    errno = error;
    return written;
}

// The module's picture, as "<prefix><position>.png".
bool write_picture(const char *prefix, std::size_t position, const std::uint8_t *bytes, std::size_t size)
{
    char name[NAME_SIZE];
    const int length = std::snprintf(name, sizeof name, "%s%d.png", prefix, static_cast<int>(position));
    bool written = false;
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof name)
        errno = ENAMETOOLONG;  // a cut name would be another file's
    else
        written = write_file(name, bytes, size);
    if (!written) vlog("%s: fopen(%s) error: %s", MAIN_PASS, name, misc_get_error().c_str());
    return written;
}

void log_line(const char *line)
{
    vlog("%s", line);
}

long random_pick()
{
    return random_source();
}

constexpr VideoHost host = {avideo_lo_read, avideo_lo_seek, log_line, random_pick, write_picture};

// How the reads are enclosed: a transaction block of their own on an idle connection, or a
// savepoint inside the program's healthy block.
enum class Enclosure { none, block, savepoint };

constexpr const char *SAVEPOINT = "SAVEPOINT ipqvideoframes";
constexpr const char *ROLLBACK_TO_SAVEPOINT = "ROLLBACK TO SAVEPOINT ipqvideoframes";
constexpr const char *RELEASE_SAVEPOINT = "RELEASE SAVEPOINT ipqvideoframes";

bool run(PGconn *conn, const char *sql)
{
    PGresult *res = pg_exec(conn, sql);
    const bool done = libpq().PQresultStatus(res) == PGRES_COMMAND_OK;
    libpq().PQclear(res);
    return done;
}

// none when the reads cannot go on: a bad connection, a failed block, a statement still running,
// or BEGIN (or the savepoint) refused.
Enclosure enter_transaction(PGconn *conn)
{
    if (!conn || libpq().PQstatus(conn) != CONNECTION_OK) return Enclosure::none;
    switch (libpq().PQtransactionStatus(conn)) {
    case PQTRANS_INTRANS: return run(conn, SAVEPOINT) ? Enclosure::savepoint : Enclosure::none;
    case PQTRANS_IDLE: return run(conn, "BEGIN") ? Enclosure::block : Enclosure::none;
    default: return Enclosure::none;
    }
}

// Ends the block of the reads' own, or lets the savepoint go. A large object that could not be
// opened or read fails the savepoint only: rolling back to it leaves the program's block as the
// program had it.
bool leave_transaction(PGconn *conn, Enclosure enclosure)
{
    bool left = false;
    if (enclosure == Enclosure::block)
        left = run(conn, "END");
    else
        left = (libpq().PQtransactionStatus(conn) != PQTRANS_INERROR || run(conn, ROLLBACK_TO_SAVEPOINT)) &&
               run(conn, RELEASE_SAVEPOINT);
    if (!left) pg_count_transactions();  // the block may still be open, or have failed
    return left;
}

} // namespace

int avideo_lo_read(void *reader, std::uint8_t *buffer, int size)
{
    if (size < 0) return AVERROR(EINVAL);
    auto *r = static_cast<LoReader *>(reader);
    const int n = pg_lo_read(r->conn, r->fd, reinterpret_cast<char *>(buffer), static_cast<std::size_t>(size));
    if (n == 0) return AVERROR_EOF;
    if (n < 0) return AVERROR(EIO);
    return n;
}

std::int64_t avideo_lo_seek(void *reader, std::int64_t offset, int whence)
{
    if (whence & AVSEEK_SIZE) return -1;
    auto *r = static_cast<LoReader *>(reader);
    return pg_lo_lseek64(r->conn, r->fd, offset, whence & ~AVSEEK_FORCE);
}

int avideo_nframes(LoReader *reader)
{
    return video_module().count_frames(&host, reader);
}

int ipqvideoframes(int handle, long oid, int count, const char *prefix)
{
    PGconn *conn = handle > 0 && handle < pgctabsize ? hdlgetconn(static_cast<std::uint16_t>(handle)) : nullptr;
    if (count < 1 && conn) {
        // No frame to pick: nothing is sent.
        vlog("%s: return: %d", MAIN_PASS, VF_NO_FRAMES);
        return VF_NO_FRAMES;
    }
    const Enclosure enclosure = enter_transaction(conn);
    if (enclosure == Enclosure::none) {
        vlog("%s: cannot start Pg transaction", MAIN_PASS);
        return VF_NO_TRANSACTION;
    }

    int result = VF_DONE;
    LoReader reader{conn, -1};
    // An OID beyond the 32 bits of the type would be cut to another object's.
    if (oid >= 0 && oid <= static_cast<long>(UINT_MAX))
        reader.fd = libpq().lo_open(conn, static_cast<Oid>(oid), INV_READ);
    if (reader.fd < 0) {
        vlog("%s: lo_open(%ld) failed: %s", MAIN_PASS, oid,
             oid >= 0 && oid <= static_cast<long>(UINT_MAX) ? server_message(conn).c_str() : "OID out of range");
        result = VF_LO_OPEN;
    } else {
        int last = 0;
        result = video_module().sample_frames(&host, &reader, count, prefix, &last);
        // A signal made the reads fail: the run ends through the signal path, not as a bad video.
        after_library_failure();
        vlog("%s: done reading video: %s", MAIN_PASS, av_text(last).c_str());
        if (libpq().lo_close(conn, reader.fd) < 0) {
            vlog("%s: lo_close(%ld) failed: %s", MAIN_PASS, oid, server_message(conn).c_str());
            result = VF_LO_CLOSE;
        }
    }
    if (!leave_transaction(conn, enclosure)) {
        vlog("%s: cannot end Pg transaction", MAIN_PASS);
        result = VF_END;
    }
    vlog("%s: return: %d", MAIN_PASS, result);
    return result;
}

VideoRandom set_video_random(VideoRandom source)
{
    const VideoRandom previous = random_source;
    random_source = source ? source : ::random;
    return previous;
}
