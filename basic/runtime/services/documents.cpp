// IDOC_FETCH and IDOC_STORE: a file into the bytea column of a table row and back, through a
// structure variable of the table and the row fetch and store of pg_rows.h.
//
// The document stays in the record's bytea field only for the call: the fetch puts the file's
// bytea text there for the store and takes it away again, the store releases the text the row
// fetch left there once the file is written.
#include "documents.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <glib/gstdio.h>

#include "cases.h"
#include "libpq_calls.h"
#include "mem_mgt.h"
#include "message.h"
#include "misc.h"
#include "pg.h"
#include "pg_rows.h"
#include "shared_files.h"
#include "sql.h"
#include "structops.h"

namespace {

using namespace intr;

constexpr std::size_t PIECE = 4096;
constexpr const char *STREAM_ERROR = "IDOC_FETCH: Error reading file";  // the store's write error says so too
constexpr const char *CANNOT_CONVERT = "IDOC_FETCH: Cannot convert (to escaped string) from %s";
constexpr const char *NOT_WRITABLE = "IDOC_STORE: Cannot open %s for writing. Error - %s";

struct PqFree {
    void operator()(unsigned char *p) const { libpq().PQfreemem(p); }
};
using PqBytes = std::unique_ptr<unsigned char, PqFree>;

// The arguments of a document call, checked.
struct DocumentCall {
    std::uint16_t handle;
    std::string column;
    std::string path;
    PgStructure structure;
    char *field;  // the bytea column's field in the record
};

DocumentCall document_call(int nargs, int last, int code)
{
    if (nargs != 4) Xerror(200, "%s called with wrong number of arguments (%d)", inbuilt[code].F_name, nargs);
    DocumentCall c{static_cast<std::uint16_t>(static_cast<unsigned>(integer(arg(nargs, last, 0)))),
                   std::string(text(arg(nargs, last, 1))), std::string(text(arg(nargs, last, 2))),
                   pg_structure(arg(nargs, last, 3)), nullptr};
    auto &table = const_cast<OskaTable_t &>(*c.structure.table);
    int index = -1;
    const OskaCol_t *col = FindOskaCol(&table, c.column.c_str(), &index);
    if (!col) Abort("No column %s table named %s", c.column.c_str(), table.tname.c_str());
    if (col->type != ct_bytea)
        Abort("Column %s in table %s is type %s, not bytea", c.column.c_str(), table.tname.c_str(), ct_string(col->type));
    c.field = c.structure.record + col->offset;
    return c;
}

// A descriptor closed on every way out.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { reset(); }
    void reset()
    {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    // Closes it, reporting the error a delayed write may only show now.
    bool close_checked()
    {
        const int d = fd;
        fd = -1;
        return close(d) == 0;
    }
};

std::vector<unsigned char> read_document(const char *path)
{
    // Below a shared directory only a regular file of our own is read, never through a link.
    Descriptor in(open_by_name(path, O_RDONLY | O_CLOEXEC, 0));
    if (in.fd < 0) Xerror(309, "IDOC_FETCH: Cannot open %s for reading. Error - %s", path, misc_get_error().c_str());
    std::vector<unsigned char> bytes;
    for (;;) {
        const std::size_t have = bytes.size();
        try {
            bytes.resize(have + PIECE);
        } catch (const std::bad_alloc &) {
            Xerror(210, CANNOT_CONVERT, path);
        }
        const ssize_t n = read(in.fd, bytes.data() + have, PIECE);
        bytes.resize(have + static_cast<std::size_t>(n > 0 ? n : 0));
        if (n == 0) return bytes;
        if (n < 0 && errno != EINTR) Xerror(309, "%s", STREAM_ERROR);
    }
}

bool standard_strings(PGconn *conn)
{
    const char *setting = libpq().PQparameterStatus(conn, "standard_conforming_strings");
    return !setting || std::strcmp(setting, "off") != 0;
}

// ---- Writing a file in place of another --------------------------------------------------------

// One write of a document: the file written (a temporary name beside the target, or the target
// itself), removed again unless it was put in place.
class DocumentFile {
public:
    explicit DocumentFile(const char *path) : path_(path) { open_file(); }
    DocumentFile(const DocumentFile &) = delete;
    DocumentFile &operator=(const DocumentFile &) = delete;
    ~DocumentFile()
    {
        out_.reset();
        if (!temporary_.empty()) g_unlink(temporary_.c_str());
        // A new file in a shared directory not yet in place goes with shared_.
    }

    void write_all(const unsigned char *bytes, std::size_t length)
    {
        std::size_t done = 0;
        while (done < length) {
            const ssize_t n = write(out_.fd, bytes + done, length - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) fail("%s", STREAM_ERROR);
            if (n == 0)
                fail("IDOC_STORE: Only wrote %d bytes out of %d", static_cast<int>(done), static_cast<int>(length));
            done += static_cast<std::size_t>(n);
        }
    }

    // Makes the bytes last: synced, closed and, when written aside, renamed over the target.
    void finish()
    {
        struct stat st;
        const bool regular = fstat(out_.fd, &st) == 0 && S_ISREG(st.st_mode);
        if (regular && fsync(out_.fd) != 0) fail("%s", STREAM_ERROR);
        if (!out_.close_checked()) fail("%s", STREAM_ERROR);
        if (shared_.exposed()) {
            if (!shared_.commit()) fail_to_open();
            shared_.sync_directory();
            return;
        }
        if (temporary_.empty()) return;
        if (rename(temporary_.c_str(), landing_.c_str()) != 0) fail_to_open();
        temporary_.clear();
        sync_directory();
    }

private:
    template <class... A> [[noreturn]] void fail(const char *format, A... args)
    {
        out_.reset();
        if (!temporary_.empty()) g_unlink(temporary_.c_str());
        temporary_.clear();
        shared_ = NamedFile();
        Xerror(309, format, args...);
    }

    [[noreturn]] void fail_to_open()
    {
        const std::string error = misc_get_error();
        fail(NOT_WRITABLE, path_, error.c_str());
    }

    // Where the bytes land: through a symbolic link to the file it names, as opening the name
    // for writing would.
    void find_landing()
    {
        landing_ = path_;
        struct stat st;
        if (lstat(path_, &st) != 0 || !S_ISLNK(st.st_mode)) return;
        if (char *real = realpath(path_, nullptr)) {
            landing_ = real;
            std::free(real);
        }
    }

    void open_file()
    {
        struct stat st;
        if (in_exposed_directory(path_)) {
            // What another user may have planted there is never written: no link on the way is
            // followed, and only a regular file of our own with one name is replaced, by a new
            // file put under the name once it is complete.
            shared_ = NamedFile(path_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666, NamedFile::ON_COMMIT);
            if (!shared_.ok()) fail_to_open();
            out_.fd = shared_.release();
            return;
        }
        find_landing();
        const bool exists = stat(landing_.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            fail_to_open();
        }
        struct stat link;
        const bool dangling = !exists && lstat(landing_.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        if (dangling || (exists && (!S_ISREG(st.st_mode) || st.st_nlink > 1 || st.st_uid != geteuid()))) {
            // Devices, files with more names or of other users, and what a dangling link names
            // keep their identity: they are written where they are.
            out_.fd = open(landing_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (out_.fd < 0) fail_to_open();
            return;
        }
        write_aside(exists ? &st : nullptr);
    }

    // Opens a new temporary file beside the landing place, with the permissions of the file it
    // replaces (old), or those a new file gets: mode 0666 less the umask.
    void write_aside(const struct stat *old)
    {
        const std::size_t slash = landing_.rfind('/');
        directory_ = slash == std::string::npos ? "." : landing_.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? landing_ : landing_.substr(slash + 1);
        std::string name = (slash == std::string::npos ? "" : directory_) + "." + base.substr(0, NAME_MAX - 16) + ".XXXXXX";
        out_.fd = g_mkstemp_full(name.data(), O_WRONLY | O_CLOEXEC, 0666);  // O_EXCL
        if (out_.fd < 0) fail_to_open();
        temporary_ = name;
        if (old && fchmod(out_.fd, old->st_mode & 07777) != 0) fail_to_open();
    }

    // The rename lasts once the directory is synced; a directory that cannot be synced still
    // holds the new file.
    void sync_directory() const
    {
        if (directory_.empty()) return;
        Descriptor dir(open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.fd >= 0) fsync(dir.fd);
    }

    const char *path_;
    std::string landing_;
    std::string directory_;  // of the temporary, "" when written in place
    std::string temporary_;  // "" when written in place or once renamed
    NamedFile shared_;       // the new file below a shared directory
    Descriptor out_;
};

// ---- The two operations --------------------------------------------------------------------------

// Runs work with the document's text in the field, which holds no text afterwards, also when
// work stops the run.
template <class Work> auto with_document_field(const DocumentCall &c, const char *what, Work &&work)
{
    try {
        auto value = work();
        text_field_release(c.field, what);
        return value;
    } catch (...) {
        text_field_release(c.field, what);
        throw;
    }
}

int fetch_document(const DocumentCall &c)
{
    std::size_t length = 0;
    char *text = file_get_bytea(hdlgetconn(c.handle), c.path.c_str(), &length);
    text_field_set(c.field, text, "IDOC_FETCH");
    const int stored = with_document_field(
        c, "IDOC_FETCH", [&] { return OskaPgStoreX(c.handle, *c.structure.table, c.structure.record); });
    return stored == 1 ? 0 : 1;
}

int store_document(const DocumentCall &c)
{
    if (OskaPgFetchX(c.handle, *c.structure.table, c.structure.record) == 0) return 6;
    return with_document_field(c, "IDOC_STORE", [&] {
        const char *text = text_field_text(c.field, "IDOC_STORE");
        std::size_t length = 0;
        const PqBytes bytes(
            libpq().PQunescapeBytea(reinterpret_cast<const unsigned char *>(text ? text : ""), &length));
        if (!bytes) Xerror(210, "IDOC_STORE: No memory to convert escaped string to binary on file %s", c.path.c_str());
        return file_store_bytea(c.path.c_str(), bytes.get(), length);
    });
}

} // namespace

int idoc_perform(int nargs, int last, int code)
{
    const DocumentCall c = document_call(nargs, last, code);
    return code == in_IDOC_FETCH ? fetch_document(c) : store_document(c);
}

char *file_get_bytea(PGconn *conn, const char *path, std::size_t *length)
{
    std::vector<unsigned char> bytes = read_document(path);
    std::size_t size = 0;
    const PqBytes escaped(conn ? libpq().PQescapeByteaConn(conn, bytes.data(), bytes.size(), &size)
                               : libpq().PQescapeBytea(bytes.data(), bytes.size(), &size));
    if (!escaped || size == 0) Xerror(210, CANNOT_CONVERT, path);
    std::vector<unsigned char>().swap(bytes);
    // The size counts the terminator. Without standard-conforming strings libpq doubles the
    // backslash for a literal; the field holds the bytea's own text, as a fetch of the column
    // leaves it, and the store escapes it for its literal itself.
    const char *text = reinterpret_cast<const char *>(escaped.get());
    std::size_t n = size - 1;
    if (conn && !standard_strings(conn) && n >= 2 && text[0] == '\\' && text[1] == '\\') {
        ++text;
        --n;
    }
    auto *block = static_cast<char *>(DpsXmalloc(n + 1));
    if (!block) Xerror(210, CANNOT_CONVERT, path);
    std::memcpy(block, text, n + 1);
    *length = n;
    return block;
}

int file_store_bytea(const char *path, const unsigned char *bytes, std::size_t length)
{
    DocumentFile file(path);
    file.write_all(bytes, length);
    file.finish();
    return 0;
}
