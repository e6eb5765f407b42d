// Reading and writing OpenDocument packages with libzip. See odf_package.h.
#include "odf_package.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <zip.h>

#include "message.h"
#include "misc.h"
#include "shared_files.h"

namespace {

struct ZipDiscard {
    void operator()(zip_t *za) const { zip_discard(za); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipDiscard>;

struct ZipFileClose {
    void operator()(zip_file_t *f) const { zip_fclose(f); }
};

constexpr const char *MIMETYPE = "mimetype";

int zip_code(zip_t *za) { return zip_error_code_zip(zip_get_error(za)); }

[[noreturn]] void unzip_failed(int code, const char *source)
{
    Abort("Return value %d when attempting to unzip the OpenOffice document %s", code, source);
}

// A name that stays inside the package: relative, and no component "..".
bool inside(std::string_view name)
{
    if (name.empty() || name.front() == '/') return false;
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

std::string read_entry(zip_t *za, zip_uint64_t index, zip_uint64_t size, const char *source)
{
    std::unique_ptr<zip_file_t, ZipFileClose> file(zip_fopen_index(za, index, 0));
    if (!file) unzip_failed(zip_code(za), source);
    std::string data(size, '\0');
    zip_uint64_t done = 0;
    while (done < size) {
        const zip_int64_t n = zip_fread(file.get(), data.data() + done, size - done);
        if (n <= 0) unzip_failed(zip_error_code_zip(zip_file_get_error(file.get())), source);
        done += static_cast<zip_uint64_t>(n);
    }
    return data;
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

void add_entry(zip_t *za, const OdfEntry &entry, const char *target)
{
    zip_int64_t index;
    if (entry.directory) {
        index = zip_dir_add(za, entry.name.c_str(), ZIP_FL_ENC_GUESS);
    } else {
        zip_source_t *source = entry.file.empty() ? zip_source_buffer(za, entry.data.data(), entry.data.size(), 0)
                                                  : picture_source(za, entry.file);
        if (!source) Abort("Return value %d when attempting to zip the OpenOffice document %s", zip_code(za), target);
        index = zip_file_add(za, entry.name.c_str(), source, ZIP_FL_ENC_GUESS);
        if (index < 0) zip_source_free(source);
    }
    if (index < 0) Abort("Return value %d when attempting to zip the OpenOffice document %s", zip_code(za), target);
    // The format asks for the media type as the first entry, uncompressed, so that a reader can
    // recognise the package from its first bytes.
    if (entry.name == MIMETYPE && zip_set_file_compression(za, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) != 0)
        Abort("Return value %d when attempting to zip the OpenOffice document %s", zip_code(za), target);
}

// Six letters or digits for a temporary name; O_EXCL, not the name, keeps it ours.
std::string random_suffix()
{
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix(6, '0');
    for (char &c : suffix) c = letters[g_random_int_range(0, sizeof letters - 1)];
    return suffix;
}

struct SourceFree {
    void operator()(zip_source_t *source) const { zip_source_free(source); }
};

// The package's entries as a new archive, made in memory: "mimetype" first and stored.
std::string archive(const OdfPackage &package, const char *target)
{
    const auto failed = [target](int code) {
        Abort("Return value %d when attempting to zip the OpenOffice document %s", code, target);
    };
    zip_error_t error;
    zip_error_init(&error);
    std::unique_ptr<zip_source_t, SourceFree> buffer(zip_source_buffer_create(nullptr, 0, 0, &error));
    if (!buffer) failed(zip_error_code_zip(&error));
    zip_source_keep(buffer.get());  // kept past zip_close, to read the archive from
    ZipPtr za(zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error));
    if (!za) failed(zip_error_code_zip(&error));
    for (const OdfEntry &e : package.entries)
        if (e.name == MIMETYPE) add_entry(za.get(), e, target);
    for (const OdfEntry &e : package.entries)
        if (e.name != MIMETYPE) add_entry(za.get(), e, target);
    if (zip_close(za.get()) != 0) failed(zip_code(za.get()));
    za.release();  // zip_close freed it

    if (zip_source_open(buffer.get()) < 0) failed(zip_error_code_zip(zip_source_error(buffer.get())));
    std::string bytes;
    char chunk[64 * 1024];
    zip_int64_t n;
    while ((n = zip_source_read(buffer.get(), chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<std::size_t>(n));
    const int code = n < 0 ? zip_error_code_zip(zip_source_error(buffer.get())) : 0;
    zip_source_close(buffer.get());
    if (code) failed(code);
    return bytes;
}

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

[[noreturn]] void write_failed(const char *target)
{
    Abort("Error %s when attempting to write the OpenOffice document %s", misc_get_error().c_str(), target);
}

// Puts bytes under the name target: written under a temporary name beside it and renamed over
// it, so a failure leaves an old target whole. Where other users can write, the shared files'
// rules apply (no link followed on the way, nothing of another user's replaced or written).
void replace_target(const std::string &bytes, const char *target)
{
    if (in_exposed_directory(target)) {
        NamedFile file(target, O_WRONLY | O_CREAT | O_TRUNC, 0666, NamedFile::ON_COMMIT);
        if (!file.ok() || !write_all(file.fd(), bytes) || !file.commit()) write_failed(target);
        return;
    }
    const std::filesystem::path path(target);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temporary = (path.parent_path() / ("." + path.filename().string() + "." + random_suffix())).string();
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt == 100)) write_failed(target);
    }
    const bool written = write_all(fd, bytes);
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), target) != 0) {
        const int saved = errno;
        unlink(temporary.c_str());
        errno = saved;
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
    ZipPtr za(open_template(source));
    OdfPackage package;
    package.source = source;
    const zip_int64_t count = zip_get_num_entries(za.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        if (zip_stat_index(za.get(), index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE))
            unzip_failed(zip_code(za.get()), source);
        const std::string_view name = st.name;
        if (!inside(name))
            Abort("Entry %s of the OpenOffice document %s refused: its name leads outside the package", st.name, source);
        if (!plain(za.get(), index))
            Abort("Entry %s of the OpenOffice document %s refused: it is not a plain file or directory", st.name, source);
        OdfEntry entry;
        entry.name = name;
        entry.directory = name.back() == '/';
        if (!entry.directory) entry.data = read_entry(za.get(), index, st.size, source);
        package.entries.push_back(std::move(entry));
    }
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
    replace_target(archive(package, target), target);
}
