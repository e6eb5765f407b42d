// Print handles, the writers and readers of the print buffer file, and the print intrinsics that
// write it. See print_handles.h.
#include "print_handles.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include "cases.h"
#include "cmatrix.h"
#include "forms.h"
#include "gdata.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "print_state.h"
#include "shared_files.h"

using intr::arg;

namespace {

constexpr const char *BUFFER_SUFFIX = ".buf";
// The white space at which an output name is cut for its buffer file's name.
constexpr const char *NAME_END = " \t\n\v\f\r";

unsigned long hex(const void *p) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)); }

// ---- Handle lists ---------------------------------------------------------------------------------

template <class F> void each_cm(GlobalData_t *gd, F &&f)
{
    if (!gd) return;
    for (ControlMatrix_t *cm = gd->first_cm; cm; cm = cm->next) f(cm);
    for (ControlMatrix_t *cm = gd->deferred_cms; cm; cm = cm->deferred_next) f(cm);
}

void append_handle(ControlMatrix_t *cm, PrintHandle_t *h)
{
    PrintHandle_t **link = &cm->print_handles;
    PrintHandle_t *tail = nullptr;
    while (*link) {
        tail = *link;
        link = &tail->next;
    }
    h->prior = tail;
    *link = h;
}

void unlink_handle(ControlMatrix_t *cm, PrintHandle_t *h)
{
    (h->prior ? h->prior->next : cm->print_handles) = h->next;
    if (h->next) h->next->prior = h->prior;
    h->next = h->prior = nullptr;
}

// ---- Arguments --------------------------------------------------------------------------------------

// The numeric variable an intrinsic stores its result or handle into.
dec_t *numeric_variable(int nargs, int last, int i, const char *intrinsic)
{
    Stack &e = arg(nargs, last, i);
    if (e.s_t != real || !(e.flags & stk_ref) || !e.s_c.C_N)
        Xerror(202, "%s: argument must be a numeric variable", intrinsic);
    return e.s_c.C_N;
}

// The live handle an argument names; a number that is none ends the run rather than being used.
PrintHandle_t *handle_argument(int nargs, int last, int i, const char *intrinsic)
{
    const long value = intr::long_integer(arg(nargs, last, i));
    auto *h = reinterpret_cast<PrintHandle_t *>(value);
    if (!value || !psprint_handle_owner(global_data, h))
        Abort("Invalid Print Handle %lX passed to %s", static_cast<unsigned long>(value), intrinsic);
    return h;
}

PrintHandle_t *writing_handle(int nargs, int last, int i, const char *intrinsic)
{
    PrintHandle_t *h = handle_argument(nargs, last, i, intrinsic);
    if (!h->writing)
        Abort("Print Handle %lX passed to %s is not open for writing (%s)", hex(h), intrinsic,
              h->path ? "ipsclose has been called" : "ipsopen has not been called");
    return h;
}

std::string text_argument(int nargs, int last, int i) { return std::string(intr::text(arg(nargs, last, i))); }

int integer_argument(int nargs, int last, int i)
{
    int value = 0;
    NumericToINT(intr::number(arg(nargs, last, i)), &value);
    return value;
}

float real_argument(int nargs, int last, int i)
{
    float value = 0.0f;
    NumericToFLT(intr::number(arg(nargs, last, i)), &value);
    return value;
}

// ---- The buffer file --------------------------------------------------------------------------------

// The buffer file of an output name: the name up to its first white space, with ".buf", made
// absolute at once so that a later change of working directory cannot point the handle elsewhere.
std::string buffer_path(std::string_view name)
{
    name = name.substr(0, std::min(name.find_first_of(NAME_END), name.find('\0')));
    std::string path(name);
    path += BUFFER_SUFFIX;
    if (path.front() != '/') {
        char *cwd = g_get_current_dir();
        path = std::string(cwd) + "/" + path;
        g_free(cwd);
    }
    return path;
}

// Two live handles on one buffer file would interleave or truncate each other's records.
void refuse_shared_buffer(const std::string &path)
{
    struct stat st {};
    const bool exists = lstat(path.c_str(), &st) == 0;
    each_cm(global_data, [&](ControlMatrix_t *cm) {
        for (const PrintHandle_t *h = cm->print_handles; h; h = h->next)
            if (h->path && (path == h->path || (exists && st.st_dev == h->device && st.st_ino == h->inode)))
                Abort("Buffer file %s is already in use by Print Handle %lX", path.c_str(), hex(h));
    });
}

// Removes the buffer file while it is still the one this handle made; one that is gone already,
// or that another has put in its place, is left as it is.
void remove_buffer_file(const PrintHandle_t *h)
{
    struct stat st {};
    if (lstat(h->path, &st) != 0) {
        if (errno == ENOENT) return;
        Abort("Error %d (%s) encountered when removing %s", errno, std::strerror(errno), h->path);
    }
    if (st.st_dev != h->device || st.st_ino != h->inode) return;
    if (unlink_by_name(h->path) != 0 && errno != ENOENT)
        Abort("Error %d (%s) encountered when removing %s", errno, std::strerror(errno), h->path);
}

void check_text(std::string_view text)
{
    if (text.find('\n') != text.npos) Abort("Unexpected line feed encountered");
}

void put(std::FILE *buffer, std::string_view text) { std::fwrite(text.data(), 1, text.size(), buffer); }

// A line up to its line feed, of any length; a last line without one reads as empty.
std::string read_line(std::FILE *buffer)
{
    std::string line;
    // One reader per stream (the replay's own): the unlocked read keeps long buffers quick.
    for (int c; (c = getc_unlocked(buffer)) != EOF;) {
        if (c == '\n') return line;
        line += static_cast<char>(c);
    }
    return {};
}

// The value of the next field, which must be of type.
std::string read_field(std::FILE *buffer, int type)
{
    const std::string line = read_line(buffer);
    const std::size_t tab = line.find('\t');
    if (tab == line.npos) Abort("Invalid record layout encountered");
    int found = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + tab, found);
    if (error != std::errc{} || found != type) Abort("Invalid field type encountered");
    return line.substr(tab + 1);
}

} // namespace

// ---- Handles ------------------------------------------------------------------------------------------

ControlMatrix_t *psprint_handle_owner(GlobalData_t *gd, const PrintHandle_t *handle)
{
    ControlMatrix_t *owner = nullptr;
    each_cm(gd, [&](ControlMatrix_t *cm) {
        for (const PrintHandle_t *h = cm->print_handles; h && !owner; h = h->next)
            if (h == handle) owner = cm;
    });
    return owner;
}

void psdestroy_print_handle(GlobalData_t *gd, PrintHandle_t *handle)
{
    postscript_print_state_free(handle->state);
    handle->state = nullptr;
    if (handle->path) {
        remove_buffer_file(handle);
        DPS_FREE(handle->path);
        close(handle->keep);
    }
    if (handle->buffer) std::fclose(handle->buffer);
    handle->buffer = nullptr;
    if (ControlMatrix_t *cm = psprint_handle_owner(gd, handle)) unlink_handle(cm, handle);
    sfree(handle);
}

void free_print_handles(ControlMatrix_t *cm)
{
    while (PrintHandle_t *h = cm->print_handles) {
        unlink_handle(cm, h);
        psdestroy_print_handle(global_data, h);
    }
}

// ---- Writers ------------------------------------------------------------------------------------------

void psprint_write_record_type(std::FILE *buffer, int type) { put(buffer, std::to_string(type) + "\n"); }

void psprint_write_text(std::FILE *buffer, std::string_view text)
{
    check_text(text);
    put(buffer, "1\t");
    put(buffer, text);
    put(buffer, "\n");
}

void psprint_write_integer(std::FILE *buffer, int value) { put(buffer, "2\t" + std::to_string(value) + "\n"); }

void psprint_write_real(std::FILE *buffer, double value)
{
    // "%f" as the C locale writes it: a locale with a decimal comma must not change the file.
    char text[400];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    put(buffer, "3\t");
    put(buffer, std::string_view(text, error == std::errc{} ? end - text : 0));
    put(buffer, "\n");
}

// ---- Readers ------------------------------------------------------------------------------------------

void psprint_open_buffer(PrintHandle_t *handle)
{
    const int fd = open_by_name(handle->path, O_RDONLY | O_NOFOLLOW, 0);
    std::FILE *buffer = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (!buffer) {
        const int error = errno;
        if (fd >= 0) close(fd);
        Abort("Error %d (%s) attempting to open buffer file '%s' for reading", error, std::strerror(error), handle->path);
    }
    handle->buffer = buffer;
    handle->writing = 0;
}

void psprint_close_buffer(PrintHandle_t *handle)
{
    if (handle->buffer) std::fclose(handle->buffer);
    handle->buffer = nullptr;
    handle->writing = 0;
}

int psprint_read_record_type(std::FILE *buffer)
{
    const std::string line = read_line(buffer);
    if (line.empty()) return PR_CLOSE;
    int type = 0;
    std::from_chars(line.data(), line.data() + line.size(), type);
    if (type < PR_OPEN || type > PR_CLOSE) Abort("Invalid record type encountered");
    return type;
}

std::string psprint_read_text(std::FILE *buffer) { return read_field(buffer, PF_TEXT); }

int psprint_read_integer(std::FILE *buffer)
{
    const std::string value = read_field(buffer, PF_INTEGER);
    int n = 0;
    std::from_chars(value.data(), value.data() + value.size(), n);
    return n;
}

float psprint_read_real(std::FILE *buffer)
{
    const std::string value = read_field(buffer, PF_REAL);
    double x = 0.0;
    std::from_chars(value.data(), value.data() + value.size(), x);
    return static_cast<float>(x);
}

// ---- Intrinsics -----------------------------------------------------------------------------------------

void ipscreate(int nargs, int last)
{
    if (nargs != 2) Abort("Invalid number of parameters to ipscreate %d", nargs);
    dec_t *variable = numeric_variable(nargs, last, 1, "IPSCREATE");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix first");
    auto *h = Alloc(PrintHandle_t);
    append_handle(cm, h);
    NumericCvLONG(reinterpret_cast<long>(h), variable);
}

void ipsopen(int nargs, int last)
{
    if (nargs != 8) Abort("Invalid number of parameters to ipsopen %d", nargs);
    dec_t *result = numeric_variable(nargs, last, 7, "IPSOPEN");
    PrintHandle_t *h = handle_argument(nargs, last, 6, "ipsopen");
    const std::string gutter = text_argument(nargs, last, 5), colour = text_argument(nargs, last, 4),
                      format = text_argument(nargs, last, 3), margins = text_argument(nargs, last, 2),
                      form = text_argument(nargs, last, 1), name = text_argument(nargs, last, 0);
    if (h->path) Abort("Print Handle %lX passed to ipsopen has been opened already", hex(h));
    for (const std::string *t : {&format, &margins, &form, &name, &colour, &gutter}) check_text(*t);
    const std::string path = buffer_path(name);
    refuse_shared_buffer(path);
    const int fd = open_by_name(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
    struct stat st {};
    // A descriptor kept for the handle's life holds the file's inode, so that a file made later
    // under its name cannot have the same device and inode.
    const int keep = fd >= 0 && fstat(fd, &st) == 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    std::FILE *buffer = keep >= 0 ? fdopen(fd, "w") : nullptr;
    if (!buffer) {
        const int error = errno;
        if (fd >= 0) close(fd);
        if (keep >= 0) close(keep);
        Abort("Error %d (%s) attempting to create buffer file %s", error, std::strerror(error), path.c_str());
    }
    h->buffer = buffer;
    h->path = Strcpy(path.c_str());
    h->device = st.st_dev;
    h->inode = st.st_ino;
    h->keep = keep;
    h->writing = 1;
    psprint_write_record_type(buffer, PR_OPEN);
    for (const std::string *t : {&format, &margins, &form, &name, &colour, &gutter}) psprint_write_text(buffer, *t);
    NumericCvINT(0, result);
}

void ipsheader(int nargs, int last)
{
    if (nargs != 9) Abort("Invalid number of parameters to ipsheader %d", nargs);
    dec_t *result = numeric_variable(nargs, last, 8, "IPSHEADER");
    const float keep = real_argument(nargs, last, 7), gap = real_argument(nargs, last, 6);
    const int store_only = integer_argument(nargs, last, 5), new_page = integer_argument(nargs, last, 4),
              level = integer_argument(nargs, last, 3);
    const std::string format = text_argument(nargs, last, 2), text = text_argument(nargs, last, 1);
    PrintHandle_t *h = writing_handle(nargs, last, 0, "ipsheader");
    check_text(text);
    check_text(format);
    psprint_write_record_type(h->buffer, PR_HEADER);
    psprint_write_text(h->buffer, text);
    psprint_write_text(h->buffer, format);
    psprint_write_integer(h->buffer, new_page);
    psprint_write_integer(h->buffer, level);
    psprint_write_integer(h->buffer, store_only);
    psprint_write_real(h->buffer, keep);
    psprint_write_real(h->buffer, gap);
    NumericCvINT(0, result);
}

void ipsfooter(int nargs, int last)
{
    if (nargs != 4) Abort("Invalid number of parameters to ipsfooter %d", nargs);
    dec_t *result = numeric_variable(nargs, last, 3, "IPSFOOTER");
    const std::string format = text_argument(nargs, last, 2), text = text_argument(nargs, last, 1);
    PrintHandle_t *h = writing_handle(nargs, last, 0, "ipsfooter");
    check_text(text);
    check_text(format);
    psprint_write_record_type(h->buffer, PR_FOOTER);
    psprint_write_text(h->buffer, text);
    psprint_write_text(h->buffer, format);
    NumericCvINT(0, result);
}

void ipswrite(int nargs, int last)
{
    if (nargs != 5 && nargs != 6) Abort("Invalid number of parameters to ipswrite %d", nargs);
    const float keep = nargs == 6 ? real_argument(nargs, last, 5) : 0.0f;
    dec_t *result = numeric_variable(nargs, last, 4, "IPSWRITE");
    const std::string value = text_argument(nargs, last, 3), format = text_argument(nargs, last, 2);
    std::string text = text_argument(nargs, last, 1);
    PrintHandle_t *h = writing_handle(nargs, last, 0, "ipswrite");
    // A line of the report is one line of the file: its line feeds are kept as carriage returns.
    for (char &c : text)
        if (c == '\n') c = '\r';
    check_text(format);
    check_text(value);
    psprint_write_record_type(h->buffer, PR_WRITE);
    psprint_write_text(h->buffer, text);
    psprint_write_text(h->buffer, format);
    psprint_write_text(h->buffer, value);
    psprint_write_real(h->buffer, keep);
    NumericCvINT(0, result);
}

void ipsclose(int nargs, int last)
{
    if (nargs != 2) Abort("Invalid number of parameters to ipsclose %d", nargs);
    dec_t *result = numeric_variable(nargs, last, 1, "IPSCLOSE");
    PrintHandle_t *h = writing_handle(nargs, last, 0, "ipsclose");
    psprint_write_record_type(h->buffer, PR_CLOSE);
    std::fclose(h->buffer);
    h->buffer = nullptr;
    h->writing = 0;
    NumericCvINT(0, result);
}

void ipsdestroy(int nargs, int last)
{
    if (nargs != 1) Abort("Invalid number of parameters to ipsdestroy %d", nargs);
    dec_t *variable = numeric_variable(nargs, last, 0, "IPSDESTROY");
    long value = 0;
    NumericToLONG(variable, &value);
    if (value) {
        auto *h = reinterpret_cast<PrintHandle_t *>(value);
        ControlMatrix_t *cm = psprint_handle_owner(global_data, h);
        if (!cm) Abort("Invalid Print Handle %lX passed to ipsdestroy", static_cast<unsigned long>(value));
        unlink_handle(cm, h);
        psdestroy_print_handle(global_data, h);
    }
    NumericCvLONG(0, variable);
}
