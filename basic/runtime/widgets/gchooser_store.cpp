// The image chooser's picture store: thumbnail names and the thumbnail-directory refusal, the
// checks of a picture's content against its extension, thumbnails made and turned by
// ImageMagick's convert, IGIMAGECHOOSER_COPY (through a temporary file renamed over the
// destination, so that a failed copy leaves the destination as it was, and never onto the source
// itself) and IGIMAGECHOOSER_ROTATE.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <glib/gstdio.h>

#include "cases.h"
#include "child_signals.h"
#include "gchooser.h"
#include "gprint.h"
#include "message.h"
#include "misc.h"
#include "run_time.h"
#include "shared_files.h"

namespace {

using intr::arg;

constexpr int THUMB_SIZE = 125;
const char CONVERT[] = "/usr/bin/convert";

// A program text argument without its trailing blanks.
std::string stripped(const Stack &entry)
{
    std::string s(intr::text(entry));
    gprint_strip(s.data());
    s.resize(std::strlen(s.c_str()));
    return s;
}

bool regular_file(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// An absolute form of a path for convert: a name that began with "-", "@", "|" or a "format:"
// prefix would be read by convert as an option or a special source, never as a file.
std::string absolute(const std::string &path)
{
    char *full = g_canonicalize_filename(path.c_str(), nullptr);
    std::string s = full;
    g_free(full);
    return s;
}

// Runs convert with the arguments; false (logged) when it could not do its work. A convert that
// cannot be started at all ends the run with failure_format (the error text, then the picture),
// once a new file of ours made for it is gone.
bool run_convert(const std::vector<std::string> &args, const char *failure_format, const std::string &picture,
                 NamedFile *output = nullptr)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(CONVERT));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    char *err = nullptr;
    int status = 0;
    GError *error = nullptr;
    if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL, reset_child_signals_setup, nullptr, nullptr, &err,
                      &status, &error)) {
        const std::string text = error->message;
        g_error_free(error);
        if (output) *output = NamedFile();
        Abort(failure_format, text.c_str(), picture.c_str());
    }
    const bool done = g_spawn_check_wait_status(status, &error);
    if (!done) {
        mlog(0, "%s failed on %s: %s; %s", CONVERT, picture.c_str(), error->message, err ? g_strchomp(err) : "");
        g_error_free(error);
    }
    g_free(err);
    return done;
}

// A thumbnail another user's doing keeps from being written: the picture goes without it.
void thumbnail_skipped(const std::string &thumbnail, int error)
{
    mlog(0, "Thumbnail %s not written: %s", thumbnail.c_str(), g_strerror(error));
}

// The thumbnail's directory exists, or is made (mode 0777 less the umask); below a shared
// directory never through a link (one that another user made there is refused when the
// thumbnail is written into it). False, logged, when below a shared directory something other
// than a directory stands under the name.
bool make_thumbnail_directory(const std::string &directory, const std::string &thumbnail)
{
    if (ufexists1(directory.c_str()) == 2) return true;
    if (mkdir_by_name(directory.c_str(), 0777) == 0) return true;
    const int e = errno;
    if (e == EEXIST && in_exposed_directory(directory.c_str())) {
        thumbnail_skipped(thumbnail, e);
        return false;
    }
    Abort("Error %s encountered when attempting to create directory %s", g_strerror(e), directory.c_str());
}

// convert's name for a file of ours it reads or writes through its descriptor: the format is
// told by the picture's own extension, as the descriptor's name has none.
std::string through_descriptor(const std::string &descriptor_name, const std::string &picture)
{
    const std::size_t dot = picture.rfind('.');
    const bool extension = dot != std::string::npos && picture.find('/', dot) == std::string::npos && dot + 1 < picture.size();
    return (extension ? picture.substr(dot + 1) + ":" : std::string()) + descriptor_name;
}
std::string through_descriptor(const NamedFile &file, const std::string &picture)
{
    return through_descriptor(file.descriptor_name(), picture);
}

// Takes from a file of our own the permission bits that most does not have.
void narrow_mode(int fd, mode_t most)
{
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & ~most & 07777))
        fchmod(fd, st.st_mode & most & 07777);
}

// What convert_into does when below a shared directory the output's name is refused.
enum Refused { STOP, SKIP_THUMBNAIL };

// Runs convert on input (convert's name for it), writing the picture output, which gets no
// permission bit outside most. Below a shared directory convert never writes by the picture's
// name: it writes a new file of ours, put under the name once convert has done its work, and a
// name another user holds, a link or a directory of theirs on the way is refused (failure_format,
// the error text and the picture; a thumbnail is logged and left out). Elsewhere convert writes
// the path itself.
void convert_into(std::vector<std::string> args, const std::string &output, const char *failure_format,
                  const std::string &picture, mode_t most = 07777, Refused refused = STOP)
{
    if (!in_exposed_directory(output.c_str())) {
        args.push_back(absolute(output));
        if (run_convert(args, failure_format, picture) && (most & 07777) != 07777) {
            const int fd = open(output.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                narrow_mode(fd, most);
                close(fd);
            }
        }
        return;
    }
    NamedFile file(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666, NamedFile::ON_COMMIT);
    if (!file.ok() && refused == SKIP_THUMBNAIL) {
        thumbnail_skipped(output, errno);
        return;
    }
    if (!file.ok()) Abort(failure_format, g_strerror(errno), picture.c_str());
    narrow_mode(file.fd(), most);
    args.push_back(through_descriptor(file, output));
    if (run_convert(args, failure_format, picture, &file) && !file.commit()) {
        const int e = errno;
        file = NamedFile();
        Abort(failure_format, g_strerror(e), picture.c_str());
    }
}

// A thumbnail: the picture shrunk to fit (never enlarged) and centred on a white square, open to
// no one the picture is closed to.
void store_thumbnail(const char *image, const std::string &thumbnail)
{
    const std::string size = std::to_string(THUMB_SIZE) + "x" + std::to_string(THUMB_SIZE);
    // Below a shared directory convert reads the picture that was checked, through its
    // descriptor, never what lies under the name by the time it looks.
    std::string input = absolute(image);
    const bool shared = in_exposed_directory(image);
    const int fd = shared ? open_to_read(image) : -1;
    if (shared && fd < 0) {
        thumbnail_skipped(thumbnail, errno);
        return;
    }
    struct Closer {
        int fd;
        ~Closer()
        {
            if (fd >= 0) close(fd);
        }
    } closer{fd};
    if (fd >= 0) input = through_descriptor("/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd), image);
    struct stat st {};
    const mode_t most = (fd >= 0 ? fstat(fd, &st) : stat(image, &st)) == 0 ? st.st_mode & 07777 : 07777;
    convert_into({input, "-resize", size + ">", "-size", size, "xc:white", "+swap", "-gravity", "center", "-composite"},
                 thumbnail, "An error %s occurred running image conversion on %s", image, most, SKIP_THUMBNAIL);
}

// The thumbnail made for a picture, when its directory can be had.
void make_thumbnail(const char *image, const std::string &directory, const std::string &thumbnail)
{
    if (make_thumbnail_directory(directory, thumbnail)) store_thumbnail(image, thumbnail);
}

// Turns a picture by degrees. Below a shared directory the picture read is the file of our own
// that was checked (never a link or another user's file), and the turned one replaces it; a
// thumbnail that is not ours there is logged and left as it is.
void rotate_image(const std::string &image, int degrees, Refused refused = STOP)
{
    constexpr const char *failure = "An error %s occurred running image rotation on %s";
    if (!in_exposed_directory(image.c_str())) {
        const std::string path = absolute(image);
        run_convert({path, "-rotate", std::to_string(degrees), path}, failure, image);
        return;
    }
    const NamedFile picture(image.c_str(), O_RDONLY, 0);
    if (!picture.ok() && refused == SKIP_THUMBNAIL) {
        thumbnail_skipped(image, errno);
        return;
    }
    if (!picture.ok()) Abort(failure, g_strerror(errno), image.c_str());
    convert_into({through_descriptor(picture, image), "-rotate", std::to_string(degrees)}, image, failure, image, 07777,
                 refused);
}

// What each extension requires of the content: the type, the messages for the other types (GIF,
// JPEG, PNG, BMP in that order; nullptr for the required one) and the message for none of them.
struct ExtensionRule {
    const char *extension;
    std::int32_t type;
    const char *other[4];
    const char *program_error;
};
const ExtensionRule extension_rules[] = {
    {"png", IMAGE_PNG,
     {"A gif file has an extension of png %s", "A jpeg file has an extension of png %s", nullptr,
      "A bmp file has an extension of png %s"},
     "Program error 1 in gimagechooser_thumbnail_val"},
    {"bmp", IMAGE_BMP,
     {"A gif file has an extension of bmp %s", "A jpeg file has an extension of bmp %s",
      "A png file has an extension of bmp %s", nullptr},
     "Program error 2 in gimagechooser_thumbnail_val"},
    {"gif", IMAGE_GIF,
     {nullptr, "A jpeg file has an extension of gif %s", "A png file has an extension of gif %s",
      "A bmp file has an extension of gif %s"},
     "Program error 3 in gimagechooser_thumbnail_val"},
    {"jpg", IMAGE_JPEG,
     {"A gif file has an extension of jpg %s", nullptr, "A png file has an extension of jpg %s",
      "A bmp file has an extension of jpg %s"},
     "Program error 4 in gimagechooser_thumbnail_val"},
};

bool ends_with_ci(const std::string &text, const char *suffix)
{
    const std::size_t n = std::strlen(suffix);
    return text.size() >= n && g_ascii_strcasecmp(text.c_str() + text.size() - n, suffix) == 0;
}

// The copy's temporary file beside the destination, removed unless it was renamed into place.
struct TemporaryCopy {
    std::string path;
    int fd = -1;
    bool kept = false;
    ~TemporaryCopy()
    {
        if (fd >= 0) close(fd);
        if (!kept && !path.empty()) g_unlink(path.c_str());
    }
};

[[noreturn]] void copy_failed(const char *format, int error, const std::string &name)
{
    Abort(format, g_strerror(error), name.c_str());
}

// Copies source into destination: into a new file in the destination's directory, renamed over
// it once complete. A destination that is a symbolic link is written where the link leads, except
// below a shared directory, where no link is followed and only a file of our own is replaced.
void copy_file(const std::string &source, const std::string &destination)
{
    const std::string target = resolve_link(destination.c_str());
    struct stat from {}, to {};
    const bool to_exists = stat(target.c_str(), &to) == 0;
    if (stat_to_read(source.c_str(), &from) == 0 && to_exists && from.st_dev == to.st_dev && from.st_ino == to.st_ino)
        Abort("Source and destination are the same file %s", destination.c_str());

    // Below a shared directory only a picture of our own (or root's), never through a link.
    const int in = open_to_read(source.c_str());
    if (in < 0) copy_failed("Error %s encountered when attempting to open source file for reading %s", errno, source);
    struct InFile {
        int fd;
        ~InFile()
        {
            if (fd >= 0) close(fd);
        }
    } input{in};
    if (fstat(in, &from) != 0) copy_failed("Error %s encountered when reading source file %s", errno, source);

    TemporaryCopy out;
    NamedFile shared;
    if (in_exposed_directory(destination.c_str())) {
        shared = NamedFile(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666, NamedFile::ON_COMMIT);
        if (!shared.ok())
            copy_failed("Error %s encountered when attempting to open destination file for writing %s", errno, destination);
        out.fd = shared.release();
    } else {
        char *dir = g_path_get_dirname(target.c_str());
        out.path = std::string(dir) + "/.copy_XXXXXX";
        g_free(dir);
        out.fd = mkostemp(out.path.data(), O_CLOEXEC);
    }
    if (out.fd < 0) {
        const int e = errno;
        out.path.clear();
        copy_failed("Error %s encountered when attempting to open destination file for writing %s", e, destination);
    }
    // The copy gets the mode the destination had, or that of a new file (as the shared file has),
    // but never a permission its source does not have, before a byte is in it.
    mode_t mode = to.st_mode & 07777;
    if (!to_exists) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (!shared.exposed()) fchmod(out.fd, mode);
    narrow_mode(out.fd, from.st_mode);
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(input.fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            copy_failed("Error %s encountered when reading source file %s", errno, source);
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out.fd, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) copy_failed("Error %s encountered when closing destination file %s", errno, destination);
            done += w;
        }
    }
    if (close(input.fd) != 0) {
        input.fd = -1;
        copy_failed("Error %s encountered when closing source file %s", errno, source);
    }
    input.fd = -1;
    const int closed = close(out.fd);
    out.fd = -1;
    if (closed != 0) copy_failed("Error %s encountered when closing destination file %s", errno, destination);
    if (shared.exposed()) {
        if (!shared.commit())
            copy_failed("Error %s encountered when attempting to open destination file for writing %s", errno, destination);
        return;
    }
    if (rename(out.path.c_str(), target.c_str()) != 0)
        copy_failed("Error %s encountered when attempting to open destination file for writing %s", errno, destination);
    out.kept = true;
}

} // namespace

void gimagechooser_thumbdir_check(const char *name)
{
    const std::size_t n = std::strlen(name);
    if (n < 3) Abort("Invalid file name %s", name);
    std::size_t last = n - 1;
    while (last >= 1 && name[last] != '.') --last;
    if (last < 1) return;
    for (std::size_t i = last - 1; i >= 1; --i)
        if (name[i] == '.') {
            if (std::strncmp(name + i, ".thumb", 6) == 0) Abort("Not permitted to reference the thumbnail of an image %s", name);
            return;
        }
}

bool gimagechooser_get_thumbnail_name(const char *image, std::string *directory, std::string *thumbnail)
{
    gimagechooser_thumbdir_check(image);
    directory->clear();
    thumbnail->clear();
    const std::string resolved = resolve_link(image);
    if (!regular_file(resolved)) return false;
    const std::size_t slash = resolved.rfind('/');
    if (slash == std::string::npos || slash + 1 < 3) Abort("Invalid Image file name %s; Must include path.", image);
    *directory = resolved.substr(0, slash) + "/.thumb/";
    *thumbnail = *directory + "tmb_" + resolved.substr(slash + 1);
    return true;
}

void gimagechooser_thumbnail_val(const char *image)
{
    gimagechooser_thumbdir_check(image);
    std::int64_t height = 0, width = 0;
    std::int32_t bits = 0, type = IMAGE_UNKNOWN;
    misc_get_image_stats(&height, &width, &bits, &type, image);
    if (type == IMAGE_UNKNOWN) Abort("Unknown type of image %s", image);
    const char *dot = std::strrchr(image, '.');
    if (!dot) Abort("Invalid thumbnail name %s", image);
    const char *extension = dot + 1;
    if (g_ascii_strcasecmp(extension, "jpeg") == 0) Abort("Invalid thumbnail name %s; Expecting 'jpg'", image);
    for (const ExtensionRule &rule : extension_rules) {
        if (g_ascii_strcasecmp(extension, rule.extension) != 0) continue;
        if (type == rule.type) return;
        if (type < IMAGE_GIF || type > IMAGE_BMP || !rule.other[type - 1]) Abort("%s", rule.program_error);
        Abort(rule.other[type - 1], image);
    }
    Abort("Invalid extension to the thumbnail %s", image);
}

void gimagechooser_val_extension(const char *name, bool jpeg)
{
    const std::string s = name;
    if (s.size() <= 4) Abort("Invalid file name %s", name);
    for (const char *e : {".png", ".jpg", ".gif", ".bmp"})
        if (ends_with_ci(s, e)) return;
    if (jpeg && ends_with_ci(s, ".jpeg")) return;
    Abort("Invalid file extension %s", name);
}

void gimagechooser_create_thumbnail(const char *image)
{
    std::string directory, thumbnail;
    if (!gimagechooser_get_thumbnail_name(image, &directory, &thumbnail)) Abort("Image file %s does not exist (a)", image);
    make_thumbnail(image, directory, thumbnail);
}

int gimagechooser_get_thumbnail(const char *image, std::string *path)
{
    std::string directory, thumbnail;
    // Below a shared directory a thumbnail that another user put there is none: the picture shows.
    struct stat st {};
    if (gimagechooser_get_thumbnail_name(image, &directory, &thumbnail) && stat_to_read(thumbnail.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode)) {
        gimagechooser_thumbnail_val(image);
        *path = thumbnail;
        return 1;
    }
    *path = image;
    return 0;
}

void igimagechooser_copy(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Wrong number of parameters %d", nargs);
    const std::string source = stripped(arg(nargs, last, 0));
    const std::string destination = stripped(arg(nargs, last, 1));
    gimagechooser_thumbnail_val(source.c_str());
    gimagechooser_val_extension(source.c_str(), true);
    gimagechooser_val_extension(destination.c_str(), false);
    gimagechooser_thumbdir_check(source.c_str());
    copy_file(source, destination);

    gimagechooser_thumbnail_val(destination.c_str());
    std::string directory, thumbnail;
    if (!gimagechooser_get_thumbnail_name(destination.c_str(), &directory, &thumbnail))
        Abort("Image file %s does not exist (b)", destination.c_str());
    make_thumbnail(destination.c_str(), directory, thumbnail);
}

void igimagechooser_rotate(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Wrong number of parameters %d", nargs);
    const std::string image(intr::text(arg(nargs, last, 0)));
    const int degrees = intr::integer(arg(nargs, last, 1));
    if (degrees != -90 && degrees != 0 && degrees != 90 && degrees != 180) Abort("Rotation must be -90, 90, or 180");
    std::string directory, thumbnail;
    if (!gimagechooser_get_thumbnail_name(image.c_str(), &directory, &thumbnail))
        Abort("Image file %s does not exist (c)", image.c_str());
    // Below a shared directory the picture must be a file of our own: a link another user put
    // there would lead the thumbnail to wherever it points.
    if (in_exposed_directory(image.c_str()) && !NamedFile(image.c_str(), O_RDONLY, 0).ok())
        Abort("An error %s occurred running image rotation on %s", g_strerror(errno), image.c_str());
    if (degrees != 0) rotate_image(image, degrees);
    if (regular_file(thumbnail)) {
        if (degrees != 0) rotate_image(thumbnail, degrees, SKIP_THUMBNAIL);
        return;
    }
    make_thumbnail(image.c_str(), directory, thumbnail);
}
