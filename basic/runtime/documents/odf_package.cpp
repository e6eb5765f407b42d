// Reading and writing OpenDocument packages with libzip. See odf_package.h.
#include "odf_package.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <zip.h>

#include "message.h"
#include "misc.h"
#include "odf_tree.h"
#include "read_error.h"
#include "shared_files.h"

void OdfArchiveDiscard::operator()(zip *za) const { zip_discard(za); }

namespace {

using ZipPtr = std::unique_ptr<zip_t, OdfArchiveDiscard>;

struct ZipFileClose {
    void operator()(zip_file_t *f) const { zip_fclose(f); }
};

constexpr const char *MIMETYPE = "mimetype";
constexpr const char *MANIFEST = "META-INF/manifest.xml";

// What the filling reads and changes; every other entry is copied as it is stored.
constexpr std::array<std::string_view, 5> READ_PARTS = {MIMETYPE, MANIFEST, "content.xml", "styles.xml", "meta.xml"};

int zip_code(zip_t *za) { return zip_error_code_zip(zip_get_error(za)); }

[[noreturn]] void unzip_failed(int code, const char *source)
{
    Abort("Return value %d when attempting to unzip the OpenOffice document %s", code, source);
}

[[noreturn]] void zip_failed(int code, const char *target)
{
    Abort("Return value %d when attempting to zip the OpenOffice document %s", code, target);
}

// A name that stays inside the package: relative, no component "..", and no backslash, which
// unpackers on other systems take for a separator.
bool inside(std::string_view name)
{
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string_view::npos) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find('/', start);
        const std::string_view part = name.substr(start, end == std::string_view::npos ? end : end - start);
        if (part == "..") return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

// True unless the archive marks the entry a Unix object other than a file or directory (a
// symbolic link above all, which would lead an unpacking anywhere).
bool plain(zip_t *za, zip_uint64_t index)
{
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, index, 0, &system, &attributes) != 0) return false;
    if (system != ZIP_OPSYS_UNIX) return true;
    // Many archivers store only the permission bits: no file type counts as a plain file.
    const mode_t mode = attributes >> 16;
    return (mode & S_IFMT) == 0 || S_ISREG(mode) || S_ISDIR(mode);
}

bool read_part(std::string_view name)
{
    for (std::string_view p : READ_PARTS)
        if (p == name) return true;
    return false;
}

// Reads a part into memory piece by piece: never more than it declares (which the caller has
// held against the limit), whatever its compressed data inflates to.
std::string read_entry(zip_t *za, zip_uint64_t index, const zip_stat_t &st, const char *source)
{
    std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen_index(za, index, 0));
    if (!file) unzip_failed(zip_code(za), source);
    std::string data;
    data.reserve(st.size);
    std::array<char, 64 * 1024> chunk;
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), chunk.data(), chunk.size());
        if (n < 0) unzip_failed(zip_error_code_zip(zip_file_get_error(file.get())), source);
        if (n == 0) break;
        if (static_cast<zip_uint64_t>(n) > st.size - data.size())
            Abort("Entry %s of the OpenOffice document %s refused: it inflates to more than the %llu bytes it declares",
                  st.name, source, static_cast<unsigned long long>(st.size));
        data.append(chunk.data(), static_cast<std::size_t>(n));
    }
    if (data.size() != st.size)
        Abort("Entry %s of the OpenOffice document %s refused: it inflates to fewer than the %llu bytes it declares",
              st.name, source, static_cast<unsigned long long>(st.size));
    return data;
}

// The sizes an entry declares, held against the limits before anything of it is read.
void check_sizes(const zip_stat_t &st, bool parsed, zip_uint64_t *total, const char *source)
{
    const auto size = static_cast<unsigned long long>(st.size);
    if (st.size > ODF_ENTRY_LIMIT)
        Abort("Entry %s of the OpenOffice document %s refused: it inflates to %llu bytes, above the limit of %llu "
              "bytes for an entry",
              st.name, source, size, static_cast<unsigned long long>(ODF_ENTRY_LIMIT));
    if (parsed && st.size > ODF_PART_LIMIT)
        Abort("Entry %s of the OpenOffice document %s refused: it inflates to %llu bytes, above the limit of %llu "
              "bytes for a part that is filled",
              st.name, source, size, static_cast<unsigned long long>(ODF_PART_LIMIT));
    *total += st.size;  // no wrap: each term is below ODF_ENTRY_LIMIT
    if (*total > ODF_PACKAGE_LIMIT)
        Abort("Entry %s of the OpenOffice document %s refused: with it the package inflates to more than the limit of "
              "%llu bytes",
              st.name, source, static_cast<unsigned long long>(ODF_PACKAGE_LIMIT));
}

// An attribute value without the quotes it is stored with.
std::string_view unquoted(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// The media type the manifest gives the package's root, or empty.
std::string root_media_type(const OdfEntry &manifest)
{
    IooTree tree;
    stop_on(insert_oo_parse_xml(manifest.data, tree));
    for (const IooNode_t *n = tree.get(); n; n = n->next) {
        if (n->type != IOO_TAG_MANIFEST) continue;
        for (const IooNode_t *e = n->content; e; e = e->next) {
            const IooAttr_t *path = ioo_find_attr(e, "manifest:full-path");
            const IooAttr_t *media = ioo_find_attr(e, "manifest:media-type");
            if (e->name == "manifest:file-entry" && path && path->value && unquoted(*path->value) == "/" && media &&
                media->value)
                return std::string(unquoted(*media->value));
        }
    }
    return {};
}

// ---- Writing ------------------------------------------------------------------------------------

// The new archive's bytes go straight to the descriptor of its temporary file: libzip writes
// through this source instead of building the archive in memory or making a file of its own.
struct FdTarget {
    int fd;
    zip_error_t error;
};

zip_int64_t fd_failed(FdTarget *t, int code)
{
    zip_error_set(&t->error, code, errno);
    return -1;
}

zip_int64_t fd_target(void *userdata, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *t = static_cast<FdTarget *>(userdata);
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_COMMIT_WRITE,
                                              ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE,
                                              ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE, -1);
    case ZIP_SOURCE_STAT: {
        // A new, empty archive.
        auto *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &t->error);
        if (!st) return -1;
        zip_stat_init(st);
        st->valid |= ZIP_STAT_SIZE;
        st->size = 0;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_SEEK: {
        auto *args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &t->error);
        if (!args) return -1;
        return zip_source_seek_compute_offset(0, 0, data, length, &t->error) < 0 ? -1 : 0;
    }
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_FREE:
    case ZIP_SOURCE_COMMIT_WRITE:
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
        return 0;  // the caller keeps, places or removes the file
    case ZIP_SOURCE_BEGIN_WRITE:
        return lseek(t->fd, 0, SEEK_SET) < 0 || ftruncate(t->fd, 0) != 0 ? fd_failed(t, ZIP_ER_WRITE) : 0;
    case ZIP_SOURCE_WRITE: {
        const char *bytes = static_cast<const char *>(data);
        for (zip_uint64_t done = 0; done < length;) {
            const ssize_t n = write(t->fd, bytes + done, length - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return fd_failed(t, ZIP_ER_WRITE);
            done += static_cast<zip_uint64_t>(n);
        }
        return static_cast<zip_int64_t>(length);
    }
    case ZIP_SOURCE_SEEK_WRITE: {
        auto *args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &t->error);
        if (!args) return -1;
        return lseek(t->fd, args->offset, args->whence) < 0 ? fd_failed(t, ZIP_ER_SEEK) : 0;
    }
    case ZIP_SOURCE_TELL_WRITE: {
        const off_t at = lseek(t->fd, 0, SEEK_CUR);
        return at < 0 ? fd_failed(t, ZIP_ER_TELL) : at;
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&t->error, data, length);
    default:
        zip_error_set(&t->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// A picture read through a descriptor of ours, so that below a shared directory only a file of
// our own (or root's) goes into the package, never one reached through a link.
zip_source_t *picture_source(zip_t *za, const std::string &file)
{
    const int fd = open_to_read(file.c_str());
    std::FILE *stream = fd < 0 ? nullptr : fdopen(fd, "rb");
    if (!stream) {
        const std::string error = misc_get_error();
        if (fd >= 0) close(fd);
        Abort("Error %s when attempting to open %s", error.c_str(), file.c_str());
    }
    zip_source_t *source = zip_source_filep(za, stream, 0, 0);
    if (!source) std::fclose(stream);
    return source;
}

// Adds one entry to the new archive; 0, or libzip's error code.
int add_entry(zip_t *za, const OdfPackage &package, const OdfEntry &entry)
{
    zip_int64_t index;
    zip_int32_t method = ZIP_CM_DEFAULT;
    if (entry.directory) {
        index = zip_dir_add(za, entry.name.c_str(), ZIP_FL_ENC_GUESS);
    } else {
        zip_source_t *source;
        if (!entry.file.empty()) {
            source = picture_source(za, entry.file);
        } else if (entry.in_source) {
            // The whole entry: libzip copies its compressed bytes as they are, never inflated.
            source = zip_source_zip(za, package.archive.get(), entry.index, 0, 0, -1);
            zip_stat_t st;
            if (zip_stat_index(package.archive.get(), entry.index, 0, &st) == 0 && (st.valid & ZIP_STAT_COMP_METHOD))
                method = st.comp_method;
        } else {
            source = zip_source_buffer(za, entry.data.data(), entry.data.size(), 0);
        }
        if (!source) return zip_code(za);
        index = zip_file_add(za, entry.name.c_str(), source, ZIP_FL_ENC_GUESS);
        if (index < 0) zip_source_free(source);
    }
    if (index < 0) return zip_code(za);
    // The format asks for the media type as the first entry, uncompressed, so that a reader can
    // recognise the package from its first bytes. A stored entry that is copied stays stored, as
    // a deflated one stays deflated.
    if (entry.name == MIMETYPE) method = ZIP_CM_STORE;
    if (method == ZIP_CM_STORE && zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) != 0)
        return zip_code(za);
    return 0;
}

// Writes the package's entries as a new archive into fd: "mimetype" first and stored. 0, or
// libzip's error code: the caller removes the file before it ends the run.
int write_archive(const OdfPackage &package, int fd)
{
    FdTarget sink{fd, {}};
    zip_error_init(&sink.error);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_function_create(fd_target, &sink, &error);
    if (!source) return zip_error_code_zip(&error);
    ZipPtr za(zip_open_from_source(source, ZIP_TRUNCATE, &error));
    if (!za) {
        zip_source_free(source);
        return zip_error_code_zip(&error);
    }
    int code = 0;
    for (const OdfEntry &e : package.entries)
        if (!code && e.name == MIMETYPE) code = add_entry(za.get(), package, e);
    for (const OdfEntry &e : package.entries)
        if (!code && e.name != MIMETYPE) code = add_entry(za.get(), package, e);
    if (!code && zip_close(za.get()) != 0) code = zip_code(za.get());
    if (!code) za.release();  // zip_close freed it
    za.reset();
    zip_error_fini(&sink.error);
    return code;
}

// Six letters or digits for a temporary name; O_EXCL, not the name, keeps it ours.
std::string random_suffix()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix(6, '0');
    for (char &c : suffix) c = letters[g_random_int_range(0, sizeof letters - 1)];
    return suffix;
}

[[noreturn]] void write_failed(const char *target)
{
    Abort("Error %s when attempting to write the OpenOffice document %s", misc_get_error().c_str(), target);
}

// Gives the new file the old target's owner where permitted and its mode. A group that cannot be
// carried over takes no group permission with it: the new file is never more open than the old.
bool carry_protection(int fd, const struct stat &old)
{
    mode_t mode = old.st_mode & 07777;
    if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0)
        mode &= ~static_cast<mode_t>(S_IRWXG | S_ISGID);
    return fchmod(fd, mode) == 0;
}

// Writes the package under target: into a new file beside it, renamed over it once complete, so
// a failure leaves an old target whole. The new file has the old target's protection before a
// byte is written. Where other users can write, the shared files' rules apply (no link followed
// on the way, nothing of another user's replaced or written).
void replace_target(const OdfPackage &package, const char *target)
{
    if (in_exposed_directory(target)) {
        NamedFile file(target, O_WRONLY | O_CREAT | O_TRUNC, 0666, NamedFile::ON_COMMIT);
        if (!file.ok()) write_failed(target);
        if (const int code = write_archive(package, file.fd())) {
            file = NamedFile();  // removes the new file: ending the run unwinds nothing
            zip_failed(code, target);
        }
        if (!file.commit()) write_failed(target);
        return;
    }
    const std::filesystem::path path(target);
    struct stat old;
    const bool exists = stat(target, &old) == 0 && S_ISREG(old.st_mode);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = (path.parent_path() / ("." + path.filename().string() + "." + random_suffix())).string();
        // Owner only until the old target's protection is carried over; a new target gets the
        // mode a new file gets.
        fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
        if (fd < 0 && (errno != EEXIST || attempt == 100)) write_failed(target);
    }
    const auto remove = [&] {
        const int saved = errno;
        if (fd >= 0) close(fd);
        unlink(temporary.c_str());
        errno = saved;
    };
    if (exists && !carry_protection(fd, old)) {
        remove();
        write_failed(target);
    }
    if (const int code = write_archive(package, fd)) {
        remove();
        zip_failed(code, target);
    }
    const bool closed = close(fd) == 0;
    fd = -1;
    if (!closed || rename(temporary.c_str(), target) != 0) {
        remove();
        write_failed(target);
    }
}

// The template read through a descriptor of ours, so that below a shared directory only a
// document of our own (or root's) is opened, never through a link, and no FIFO is waited on.
zip_t *open_template(const char *source)
{
    const int fd = open_to_read(source);
    if (fd < 0) unzip_failed(errno == ENOENT ? ZIP_ER_NOENT : ZIP_ER_OPEN, source);
    std::FILE *stream = fdopen(fd, "rb");
    if (!stream) {
        close(fd);
        unzip_failed(ZIP_ER_MEMORY, source);
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *file = zip_source_filep_create(stream, 0, -1, &error);
    zip_t *za = file ? zip_open_from_source(file, ZIP_RDONLY, &error) : nullptr;
    const int code = zip_error_code_zip(&error);
    zip_error_fini(&error);
    if (!za) {
        if (file) zip_source_free(file);  // which closes the stream
        else std::fclose(stream);
        unzip_failed(code, source);
    }
    return za;
}

} // namespace

OdfPackage insert_oo_open_doc(const char *source)
{
    OdfPackage package;
    package.archive.reset(open_template(source));
    zip_t *za = package.archive.get();
    package.source = source;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    std::set<std::string> names;
    zip_uint64_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        if (zip_stat_index(za, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE))
            unzip_failed(zip_code(za), source);
        const std::string_view name = st.name;
        if (!inside(name))
            Abort("Entry %s of the OpenOffice document %s refused: its name leads outside the package", st.name, source);
        if (!plain(za, index))
            Abort("Entry %s of the OpenOffice document %s refused: it is not a plain file or directory", st.name, source);
        if (!names.emplace(name).second)
            Abort("Entry %s of the OpenOffice document %s refused: the package holds two entries of that name", st.name,
                  source);
        const bool parsed = read_part(name);
        check_sizes(st, parsed, &total, source);
        OdfEntry entry;
        entry.name = name;
        entry.directory = name.back() == '/';
        entry.index = index;
        entry.in_source = !entry.directory && !parsed;
        package.entries.push_back(std::move(entry));
    }
    // Read once every entry has passed: a refusal comes before anything is inflated.
    for (OdfEntry &e : package.entries) {
        if (e.directory || e.in_source) continue;
        zip_stat_t st;
        if (zip_stat_index(za, e.index, 0, &st) != 0) unzip_failed(zip_code(za), source);
        e.data = read_entry(za, e.index, st, source);
    }
    if (!odf_entry(package, MIMETYPE))
        if (const OdfEntry *manifest = odf_entry(package, MANIFEST))
            if (std::string media = root_media_type(*manifest); !media.empty())
                package.entries.insert(package.entries.begin(), OdfEntry{MIMETYPE, std::move(media), false, {}, false, 0});
    return package;
}

OdfEntry *odf_entry(OdfPackage &package, const char *name)
{
    for (OdfEntry &e : package.entries)
        if (e.name == name) return &e;
    return nullptr;
}

void insert_oo_close_doc(const OdfPackage &package, const char *target)
{
    replace_target(package, target);
}
