// The crash dump: a text file that records who ran what, the error report, the routine call
// chain, the value stack, the gosub stack and all application variables, written when the user
// accepts the offer after a fatal error; and the detail line of a value-stack entry.
#include "crash_dump.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "applications.h"
#include "executor.h"
#include "globals.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "loader.h"
#include "message.h"
#include "run_time.h"
#include "shared_files.h"

namespace {

constexpr std::size_t HOST_AREA = 257;

std::string decimal_text(const dec_t *d) { return d ? Convert_BCD(d) : ""; }

// The forms that the dump and the detail line share: arrays, intrinsics and labels. False for
// other kinds.
bool short_form(std::FILE *out, const Stack &e)
{
    switch (e.s_t) {
    case real_array:
        std::fprintf(out, "R%6lx[%d,%d]\n", reinterpret_cast<unsigned long>(e.s_c.C_N), e.s_dims[0], e.s_dims[1]);
        return true;
    case string_array:
        std::fprintf(out, "S%6lx[%d,%d]\n", reinterpret_cast<unsigned long>(e.s_c.C_S), e.s_dims[0], e.s_dims[1]);
        return true;
    case intrinsic: {
        const auto c = static_cast<std::size_t>(e.s_c.C_A);
        std::fprintf(out, "I%s\n", c < IN_ROWS ? inbuilt[c].F_name : "?");
        return true;
    }
    case label: std::fprintf(out, "L%lo\n", static_cast<unsigned long>(e.s_c.C_A)); return true;
    default: return false;
    }
}

// One entry of the dump's stack section.
void dump_entry(std::FILE *out, int index, const Stack &e)
{
    std::fprintf(out, "STK[%3d]: ", index);
    const bool ref = (e.flags & stk_ref) != 0;
    const char *open = ref ? "(" : "", *close = ref ? ")" : "";
    if (e.s_t == real) {
        std::fprintf(out, "real %s%s%s\n", open, decimal_text(e.s_c.C_N).c_str(), close);
    } else if (e.s_t == string) {
        long n = 0;
        const char *t = entry_text(e, &n);
        std::fprintf(out, "str  %s\"%.*s\"%s\n", open, static_cast<int>(n), t ? t : "", close);
    } else if (!short_form(out, e)) {
        std::fputc('\n', out);  // markers and structures: the prefix alone
    }
}

std::string login_of_real_user()
{
    const struct passwd *pw = getpwuid(getuid());
    return pw ? pw->pw_name : "<undef>";
}

std::string host()
{
    char area[HOST_AREA] = {};
    if (gethostname(area, sizeof area - 1) != 0) return "<undef>";
    return area;
}

// The loaded program's issue and revision, read from its header as the loader reads them (the
// header's first seven characters, then a number): empty texts when it has none.
void issue_and_revision(std::string &issue, std::string &revision)
{
    int number = 0;
    if (header_issue_and_revision(Loaded_program_header, issue, number)) revision = std::to_string(number);
}

// Newest first: the routine (or intrinsic) running now, then the callers' records down to 1.
void traceback(std::FILE *out)
{
    std::fprintf(out, "%s\t%.6x\n", Rname ? Rname : "<MAIN>", static_cast<unsigned>(yylineno - yylinestart + 1));
    if (!caller) return;
    for (int i = std::min(depth - 2, MAX_CALLERS - 1); i >= 1; --i)
        std::fprintf(out, "%s\t%.6x\n", caller[i].name ? caller[i].name : "<MAIN>", caller[i].position);
}

void write_sections(std::FILE *out)
{
    std::fprintf(out, "OSKA dump\n%d\nabcdefghijklmnopqrstuvwxyz\n", static_cast<int>(getpid()));
    const std::time_t now = std::time(nullptr);
    char when[32];
    std::fprintf(out, "Date\t%s", ctime_r(&now, when) ? when : "\n");
    std::fprintf(out, "User\t%s\n", login_of_real_user().c_str());
    std::fprintf(out, "Host\t%s\n", host().c_str());
    std::fprintf(out, "PPATH\t%s\n", PPATH ? PPATH : "<undef>");
    std::fprintf(out, "DPATH\t%s\n", DPATH ? DPATH : "<undef>");
    const char *program = Minterp ? Minterp->program_name : "";
    std::fprintf(out, "Program\t%.*s\n", static_cast<int>(strnlen(program, PROGRAM_NAME_SIZE)), program);
    std::fprintf(out, "Program_path\t%.*s\n", static_cast<int>(strnlen(Loaded_program_path, LOADED_PATH_SIZE)),
                 Loaded_program_path);
    std::string issue, revision;
    issue_and_revision(issue, revision);
    std::fprintf(out, "Issue\t%s\nRevision\t%s\n", issue.c_str(), revision.c_str());

    std::fputs("<Error>\n", out);
    for (int i = 0; i < ERROR_VECTOR_SIZE && Error_vector[i]; ++i) std::fprintf(out, "%s\n", Error_vector[i]);
    std::fputs("<Traceback>\n", out);
    traceback(out);
    std::fputs("<Stack>\n", out);
    for (int i = 0; Stk && i <= sp && i < STACKSIZE; ++i) dump_entry(out, i, Stk[i]);
    std::fputs("<Gosub>\n", out);
    for (int i = 0; gosub_stk && i < gosub_ptr && i < GOSUB_STK; ++i)
        std::fprintf(out, "%lx\n", reinterpret_cast<unsigned long>(gosub_stk[i]));
    PrintAllAppVariables("All application variable dump", out);
}

} // namespace

void dump_stack_entry(std::FILE *out, int index, const Stack &e)
{
    std::fprintf(out, "0x%8.8lX STK[%3d]: ", reinterpret_cast<unsigned long>(&e), index);
    const bool ref = (e.flags & stk_ref) != 0;
    const char *open = ref ? "(" : "", *close = ref ? ")" : "";
    switch (e.s_t) {
    case real:
        std::fprintf(out, "real %s%s%s %s [%d, %d]\n", open, decimal_text(e.s_c.C_N).c_str(), close,
                     e.s_c.C_N == &e.num ? "stk->num" : "malloced", e.s_dims[0], e.s_dims[1]);
        break;
    case string: {
        long n = 0;
        const char *t = entry_text(e, &n);
        std::fprintf(out, "str  %s\"%.*s\"%s [0x%lX] len %d in [%d,%d]%s\n", open, static_cast<int>(n), t ? t : "",
                     close, reinterpret_cast<unsigned long>(t), static_cast<int>(n), e.s_dims[0], e.s_dims[1],
                     (e.flags & stk_pointer) ? ", SPOINTER" : "");
        break;
    }
    case marker:
        std::fprintf(out, "Marker: pc %lX, nargs %d, entry_sp %ld, ra %d\n", static_cast<unsigned long>(e.s_c.C_A),
                     static_cast<int>(e.s_dims[0]), static_cast<long>(e.params[0]), static_cast<int>(e.s_dims[1]));
        break;
    case bstruct:
        std::fprintf(out, "struct @ 0x%lX proc 0x%lX\n", reinterpret_cast<unsigned long>(e.s_c.C_P),
                     static_cast<unsigned long>(e.params[0]));
        break;
    default:
        if (!short_form(out, e)) std::fputc('\n', out);
        break;
    }
}

void write_crash_dump()
{
    // Whatever happens here, the run ends without offering the dump again.
    Dump_available = 0;
    const std::string path = std::string(PPATH ? PPATH : PPATH_ROOT) + "/crash/" + std::to_string(getpid());
    // Never through a link, never blocking on a FIFO someone left there, and only into a plain file;
    // where other users may write the directory, by the rules of shared directories.
    int fd = open_by_name(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fchmod(fd, 0600) != 0)) {
        close(fd);
        fd = -1;
    }
    std::FILE *out = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!out) {
        if (fd >= 0) close(fd);
        Abort("Cannot open dump file - %s", path.c_str());
    }
    write_sections(out);
    std::fclose(out);
}
