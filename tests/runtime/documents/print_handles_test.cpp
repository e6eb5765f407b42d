// Print handles and the print buffer file, in-process in background mode (reports are made by
// batch programs): the print intrinsics called through the dispatcher on control matrices without
// windows, the records they write byte for byte, the readers the replays share, and the handles'
// life on their matrices.
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cmatrix.h"
#include "comma_locale.h"
#include "forms.h"
#include "gdata.h"
#include "intrinsic_call.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "numerics.h"
#include "print_handles.h"
#include "run_time.h"
#include "test_host.h"
#include "value_stack.h"

namespace {

using lumba_test::abort_text;
namespace fs = std::filesystem;

using lumba_test::Arg;
using lumba_test::as_long;
using namespace lumba_test::args;

std::string contents(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const fs::path &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

class PrintHandleTest : public ::testing::Test, public lumba_test::IntrinsicCall {
protected:
    void SetUp() override
    {
        record.log_mode = LOG_MODE_STDERR;
        record.log_level_lumbas = -1;
        record.log_level_basic = -1;
        record.cm_counter = -1;
        record.cm_limit = 5000;
        saved = global_data;
        global_data = &record;
        Back_ground = 1;
        char dir[] = "/tmp/print-handles.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        scratch = dir;
        home = fs::current_path();
        fs::current_path(scratch);
    }
    void TearDown() override
    {
        cmat_free_all();
        global_data = saved;
        fs::current_path(home);
        fs::remove_all(scratch);
    }

    void call(int code, const std::vector<Arg> &args) { statement(code, args); }
    std::string stop(int code, const std::vector<Arg> &args)
    {
        return abort_text([&] { call(code, args); });
    }

    ControlMatrix_t *new_cm() { return cset_new(global_data, nullptr, 0); }
    PrintHandle_t *create(ControlMatrix_t *cm)
    {
        dec_t h{};
        call(in_IPSCREATE, {num(cm), var(h)});
        return reinterpret_cast<PrintHandle_t *>(as_long(h));
    }
    void open(PrintHandle_t *h, const std::string &name)
    {
        call(in_IPSOPEN, {str(name), str("A4P"), str("1.6,0.7,1,1"), str("mtag_a"), str("C"), str("N"), num(h), var(result)});
    }
    void write(PrintHandle_t *h, const std::string &text)
    {
        call(in_IPSWRITE, {num(h), str(text), str(""), str(""), var(result)});
    }
    void close(PrintHandle_t *h) { call(in_IPSCLOSE, {num(h), var(result)}); }
    void destroy(PrintHandle_t *h)
    {
        dec_t v{};
        NumericCvLONG(reinterpret_cast<long>(h), &v);
        call(in_IPSDESTROY, {var(v)});
        EXPECT_EQ(as_long(v), 0);
    }
    // The handles of cm, first to last, checking the back links.
    std::vector<PrintHandle_t *> handles(ControlMatrix_t *cm)
    {
        std::vector<PrintHandle_t *> list;
        for (PrintHandle_t *h = cm->print_handles; h; h = h->next) {
            EXPECT_EQ(h->prior, list.empty() ? nullptr : list.back());
            list.push_back(h);
        }
        return list;
    }

    GlobalData_t record{};
    GlobalData_t *saved = nullptr;
    dec_t result{};
    fs::path scratch, home;
};

// The report of the golden file: every record kind and field type.
const char *const GOLDEN =
    "1\n"
    "1\t1,,,,mtag_bold\n"
    "1\t1.6,0.7,1.0,1.0\n"
    "1\tA4P\n"
    "1\trep.ps more words\n"
    "1\tG\n"
    "1\tL\n"
    "2\n"
    "1\tTitle\rSub\n"
    "1\t1,,,,mtag_big\r1,,,,mtag_bold\n"
    "2\t1\n"
    "2\t2\n"
    "2\t0\n"
    "3\t4.000000\n"
    "3\t3.500000\n"
    "3\n"
    "1\tFoot\n"
    "1\tmtag_red\n"
    "4\n"
    "1\tone\rtwo\n"
    "1\t5,3,,,mtag_bold\n"
    "1\tV1\n"
    "3\t0.000000\n"
    "4\n"
    "1\tx\ty\r\n"
    "1\t\n"
    "1\t\n"
    "3\t-1.250000\n"
    "5\n";

class BufferFile : public PrintHandleTest {
protected:
    // Writes the golden report through the intrinsics and returns the buffer file's text.
    std::string golden_report()
    {
        ControlMatrix_t *cm = new_cm();
        PrintHandle_t *h = create(cm);
        call(in_IPSOPEN, {str("rep.ps more words"), str("A4P"), str("1.6,0.7,1.0,1.0"), str("1,,,,mtag_bold"), str("G"),
                          str("L"), num(h), var(result)});
        call(in_IPSHEADER, {num(h), str("Title\rSub"), str("1,,,,mtag_big\r1,,,,mtag_bold"), num(2), num(1), num(0L),
                            dec("3.5"), num(4), var(result)});
        call(in_IPSFOOTER, {num(h), str("Foot"), str("mtag_red"), var(result)});
        call(in_IPSWRITE, {num(h), str("one\ntwo"), str("5,3,,,mtag_bold"), str("V1"), var(result)});
        call(in_IPSWRITE, {num(h), str("x\ty\r"), str(""), str(""), var(result), dec("-1.25")});
        close(h);
        EXPECT_EQ(as_long(result), 0);
        EXPECT_STREQ(h->path, (scratch / "rep.ps.buf").c_str());
        return contents(scratch / "rep.ps.buf");
    }
};

TEST_F(BufferFile, RecordsAreWrittenByteForByte) { EXPECT_EQ(golden_report(), GOLDEN); }

TEST_F(BufferFile, RealsAreWrittenWithAPointInADecimalCommaLocale)
{
    lumba_test::CommaLocale comma;
    ASSERT_TRUE(comma.active()) << "no decimal-comma locale could be made";
    EXPECT_EQ(golden_report(), GOLDEN);
}

TEST_F(BufferFile, OutputNamesGiveTheirBufferFile)
{
    ControlMatrix_t *cm = new_cm();
    for (auto [name, file] : {std::pair<const char *, const char *>{"out.ps", "out.ps.buf"},
                              {"out2.ps  -o lp", "out2.ps.buf"}, {"out3.ps\tx", "out3.ps.buf"}, {"", ".buf"}}) {
        PrintHandle_t *h = create(cm);
        open(h, name);
        EXPECT_STREQ(h->path, (scratch / file).c_str()) << name;
        close(h);
        EXPECT_TRUE(fs::exists(scratch / file)) << name;
    }
}

TEST_F(BufferFile, LineFeedsInTextValuesStopTheRun)
{
    ControlMatrix_t *cm = new_cm();
    PrintHandle_t *h = create(cm);
    EXPECT_EQ(stop(in_IPSOPEN, {str("rep.ps"), str("A4"), str("1,1,1,1"), str("a\nb"), str(""), str(""), num(h), var(result)}),
              "Unexpected line feed encountered");
    EXPECT_FALSE(fs::exists(scratch / "rep.ps.buf"));
    open(h, "rep.ps");
    const std::vector<std::pair<const char *, std::vector<Arg>>> cases = {
        {"header text", {num(h), str("a\nb"), str(""), num(0L), num(0L), num(0L), num(0L), num(0L), var(result)}},
        {"header format", {num(h), str(""), str("a\nb"), num(0L), num(0L), num(0L), num(0L), num(0L), var(result)}},
        {"footer text", {num(h), str("a\nb"), str(""), var(result)}},
        {"footer format", {num(h), str(""), str("a\nb"), var(result)}},
        {"line format", {num(h), str(""), str("a\nb"), str(""), var(result)}},
        {"line value", {num(h), str(""), str(""), str("a\nb"), var(result)}},
    };
    const int codes[] = {in_IPSHEADER, in_IPSHEADER, in_IPSFOOTER, in_IPSFOOTER, in_IPSWRITE, in_IPSWRITE};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::vector<Arg> &a = cases[i].second;
        std::string message;
        switch (a.size()) {
        case 4: message = stop(codes[i], {a[0], a[1], a[2], a[3]}); break;
        case 5: message = stop(codes[i], {a[0], a[1], a[2], a[3], a[4]}); break;
        default: message = stop(codes[i], {a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]}); break;
        }
        EXPECT_EQ(message, "Unexpected line feed encountered") << cases[i].first;
    }
    close(h);
    // Nothing of a refused record reached the file.
    EXPECT_EQ(contents(scratch / "rep.ps.buf"), "1\n1\tmtag_a\n1\t1.6,0.7,1,1\n1\tA4P\n1\trep.ps\n1\tC\n1\tN\n5\n");
}

TEST_F(BufferFile, WrongArgumentCountsStopWithTheirMessages)
{
    const struct {
        int code;
        int nargs;
        const char *message;
    } cases[] = {
        {in_IPSCREATE, 1, "Invalid number of parameters to ipscreate 1"},
        {in_IPSOPEN, 7, "Invalid number of parameters to ipsopen 7"},
        {in_IPSHEADER, 8, "Invalid number of parameters to ipsheader 8"},
        {in_IPSFOOTER, 3, "Invalid number of parameters to ipsfooter 3"},
        {in_IPSWRITE, 4, "Invalid number of parameters to ipswrite 4"},
        {in_IPSWRITE, 7, "Invalid number of parameters to ipswrite 7"},
        {in_IPSCLOSE, 1, "Invalid number of parameters to ipsclose 1"},
        {in_IPSDESTROY, 2, "Invalid number of parameters to ipsdestroy 2"},
        {in_IPSPRINT, 3, "Invalid number of parameters to ipsprint 3"},
    };
    for (const auto &c : cases) EXPECT_EQ(stop(c.code, std::vector<Arg>(c.nargs, num(0))), c.message);
    // The replay into PostScript asserts its handle.
    const std::string no_handle = stop(in_IPSPRINT, {num(0L), var(result)});
    EXPECT_TRUE(no_handle.starts_with("Program assertion failed in apostscript@")) << no_handle;
    EXPECT_TRUE(no_handle.ends_with(": print_handle")) << no_handle;
}

// ---- Readers -------------------------------------------------------------------------------------------

// The records of a buffer file as a replay reads them, up to the close: "type(field|field...)".
std::string replay(PrintHandle_t *h)
{
    psprint_open_buffer(h);
    std::string out;
    for (;;) {
        const int type = psprint_read_record_type(h->buffer);
        if (type == PR_CLOSE) break;
        std::vector<std::string> fields;
        const auto texts = [&](int n) {
            for (int i = 0; i < n; ++i) fields.push_back(psprint_read_text(h->buffer));
        };
        const auto reals = [&](int n) {
            for (int i = 0; i < n; ++i) fields.push_back(std::to_string(psprint_read_real(h->buffer)));
        };
        switch (type) {
        case PR_OPEN: texts(6); break;
        case PR_HEADER:
            texts(2);
            for (int i = 0; i < 3; ++i) fields.push_back(std::to_string(psprint_read_integer(h->buffer)));
            reals(2);
            break;
        case PR_FOOTER: texts(2); break;
        case PR_WRITE:
            texts(3);
            reals(1);
            break;
        }
        out += std::to_string(type) + "(";
        for (std::size_t i = 0; i < fields.size(); ++i) out += (i ? "|" : "") + fields[i];
        out += ") ";
    }
    psprint_close_buffer(h);
    return out;
}

TEST_F(BufferFile, ReadersFollowTheRecordsAndStopOnFaults)
{
    const std::string open_record = "1\n1\tf\n1\tm\n1\tA4\n1\to.ps\n1\t\n1\t\n";
    const std::string long_text(3000, 'w');
    const struct {
        std::string file;
        std::string records;  // or "abort: " and the message
    } cases[] = {
        {GOLDEN, "1(1,,,,mtag_bold|1.6,0.7,1.0,1.0|A4P|rep.ps more words|G|L) 2(Title\rSub|1,,,,mtag_big\r1,,,,mtag_bold|1|2|0|4.000000|3.500000) "
                 "3(Foot|mtag_red) 4(one\rtwo|5,3,,,mtag_bold|V1|0.000000) 4(x\ty\r|||-1.250000) "},
        {"", ""},
        {open_record, "1(f|m|A4|o.ps||) "},
        {open_record + "4\n1\t" + long_text + "\n1\t\n1\tv\n3\t2.5 cm\n5\n", "1(f|m|A4|o.ps||) 4(" + long_text + "||v|2.500000) "},
        {open_record + "4", "1(f|m|A4|o.ps||) "},
        {open_record + "2\n1\tH\n1\t\n2\tx\n2\t-3\n2\t1\n3\t\n3\t1e1\n", "1(f|m|A4|o.ps||) 2(H||0|-3|1|0.000000|10.000000) "},
        {"7\n", "abort: Invalid record type encountered"},
        {"0\n", "abort: Invalid record type encountered"},
        {"-1\n", "abort: Invalid record type encountered"},
        {"open\n", "abort: Invalid record type encountered"},
        {"3\n1 Foot\n1\t\n", "abort: Invalid record layout encountered"},
        {"3\n1\tFoot\n", "abort: Invalid record layout encountered"},
        {"3\n2\tFoot\n1\t\n", "abort: Invalid field type encountered"},
        {"3\nx\tFoot\n1\t\n", "abort: Invalid field type encountered"},
        {open_record + "4\n1\tline\n1\t\n1\t\n2\t1\n", "abort: Invalid field type encountered"},
    };
    ControlMatrix_t *cm = new_cm();
    PrintHandle_t *h = create(cm);
    open(h, "replay.ps");
    close(h);
    for (const auto &c : cases) {
        write_file(h->path, c.file);
        std::string records;
        const std::string message = abort_text([&] { records = replay(h); });
        psprint_close_buffer(h);
        EXPECT_EQ(message.empty() ? records : "abort: " + message, c.records) << c.file;
        EXPECT_TRUE(fs::exists(h->path)) << c.file;
    }
    fs::remove(h->path);
    EXPECT_EQ(abort_text([&] { psprint_open_buffer(h); }),
              "Error 2 (No such file or directory) attempting to open buffer file '" + (scratch / "replay.ps.buf").string() +
                  "' for reading");
}

// ---- Handles on their control matrices -----------------------------------------------------------------

using PrintHandles = PrintHandleTest;

TEST_F(PrintHandles, DestroyingTakesAHandleOutOfItsMatrixList)
{
    ControlMatrix_t *cm = new_cm(), *other = new_cm();
    PrintHandle_t *a = create(cm), *b = create(cm), *c = create(cm), *only = create(other);
    EXPECT_EQ(handles(cm), (std::vector<PrintHandle_t *>{a, b, c}));
    destroy(a);
    EXPECT_EQ(handles(cm), (std::vector<PrintHandle_t *>{b, c}));
    destroy(c);
    EXPECT_EQ(handles(cm), (std::vector<PrintHandle_t *>{b}));
    destroy(only);
    EXPECT_EQ(other->print_handles, nullptr);
    dec_t zero{};
    NumericCvLONG(0, &zero);
    call(in_IPSDESTROY, {var(zero)});  // no handle: only the variable is set
    EXPECT_EQ(as_long(zero), 0);
    EXPECT_EQ(handles(cm), (std::vector<PrintHandle_t *>{b}));
}

TEST_F(PrintHandles, HandlesLiveOnDeferredMatricesToo)
{
    ControlMatrix_t *cm = new_cm();
    PrintHandle_t *h = create(cm);
    // A matrix whose freeing waits for its external program keeps its handles usable.
    record.first_cm = record.last_cm = nullptr;
    record.deferred_cms = cm;
    EXPECT_NE(stop(in_IPSWRITE, {num(h), str("x"), str(""), str(""), var(result)}).find("is not open for writing"),
              std::string::npos);  // the lookup found it
    EXPECT_EQ(psprint_handle_owner(global_data, h), cm);
    record.deferred_cms = nullptr;
    record.first_cm = record.last_cm = cm;
}

TEST_F(PrintHandles, BufferFilesGoWithTheirHandles)
{
    ControlMatrix_t *cm = new_cm();
    PrintHandle_t *a = create(cm), *b = create(cm), *c = create(cm);
    open(a, "a.ps");
    open(b, "b.ps");
    close(b);
    open(c, "c.ps");
    destroy(a);
    EXPECT_FALSE(fs::exists(scratch / "a.ps.buf"));
    fs::remove(scratch / "c.ps.buf");  // someone else removed it: destroying still succeeds
    destroy(c);
    EXPECT_TRUE(fs::exists(scratch / "b.ps.buf"));
    PrintHandle_t *d = create(cm);
    open(d, "d.ps");
    cmat_free_cm(cm);  // freeing the matrix removes the buffers of all its handles
    EXPECT_FALSE(fs::exists(scratch / "b.ps.buf"));
    EXPECT_FALSE(fs::exists(scratch / "d.ps.buf"));
}

TEST_F(PrintHandles, CreatingNeedsAMatrix)
{
    dec_t h{};
    EXPECT_EQ(stop(in_IPSCREATE, {num(0L), var(h)}), "Must set the Process Control Matrix first");
    EXPECT_EQ(stop(in_IPSCREATE, {num(0x1234), var(h)}),
              "Invalid Control Matrix pointer; The Control Matrix has possibly been deleted.");
    EXPECT_EQ(as_long(h), 0);
}

TEST_F(PrintHandles, MisusedHandlesStopClearly)
{
    ControlMatrix_t *cm = new_cm();
    PrintHandle_t *h = create(cm), *gone = create(cm);
    destroy(gone);
    const auto hex = [](const void *p) {
        char b[32];
        std::snprintf(b, sizeof b, "%lX", reinterpret_cast<unsigned long>(p));
        return std::string(b);
    };
    EXPECT_EQ(stop(in_IPSWRITE, {num(h), str("x"), str(""), str(""), var(result)}),
              "Print Handle " + hex(h) + " passed to ipswrite is not open for writing (ipsopen has not been called)");
    EXPECT_EQ(stop(in_IPSCLOSE, {num(h), var(result)}),
              "Print Handle " + hex(h) + " passed to ipsclose is not open for writing (ipsopen has not been called)");
    open(h, "rep.ps");
    EXPECT_EQ(abort_text([&] { open(h, "again.ps"); }), "Print Handle " + hex(h) + " passed to ipsopen has been opened already");
    close(h);
    EXPECT_EQ(stop(in_IPSFOOTER, {num(h), str(""), str(""), var(result)}),
              "Print Handle " + hex(h) + " passed to ipsfooter is not open for writing (ipsclose has been called)");
    EXPECT_EQ(stop(in_IPSHEADER, {num(h), str(""), str(""), num(0L), num(0L), num(0L), num(0L), num(0L), var(result)}),
              "Print Handle " + hex(h) + " passed to ipsheader is not open for writing (ipsclose has been called)");
    EXPECT_EQ(abort_text([&] { open(h, "again.ps"); }), "Print Handle " + hex(h) + " passed to ipsopen has been opened already");
    EXPECT_EQ(stop(in_IPSWRITE, {num(gone), str("x"), str(""), str(""), var(result)}),
              "Invalid Print Handle " + hex(gone) + " passed to ipswrite");
    EXPECT_EQ(stop(in_IPSWRITE, {num(0L), str("x"), str(""), str(""), var(result)}), "Invalid Print Handle 0 passed to ipswrite");
    EXPECT_EQ(stop(in_IPSOPEN, {str("x"), str(""), str(""), str(""), str(""), str(""), num(12345), var(result)}),
              "Invalid Print Handle 3039 passed to ipsopen");
    EXPECT_EQ(abort_text([&] { destroy(gone); }), "Invalid Print Handle " + hex(gone) + " passed to ipsdestroy");
    EXPECT_EQ(contents(scratch / "rep.ps.buf"), "1\n1\tmtag_a\n1\t1.6,0.7,1,1\n1\tA4P\n1\trep.ps\n1\tC\n1\tN\n5\n");
}

TEST_F(PrintHandles, TheBufferFileStaysTheOneTheHandleMade)
{
    ControlMatrix_t *cm = new_cm();
    PrintHandle_t *a = create(cm), *b = create(cm);
    fs::create_directory(scratch / "elsewhere");

    // The working directory changes between IPSOPEN and IPSDESTROY: the handle keeps its file.
    open(a, "rep.ps");
    write(a, "line");
    fs::current_path(scratch / "elsewhere");
    write_file(scratch / "elsewhere" / "rep.ps.buf", "not ours");
    close(a);
    EXPECT_EQ(contents(scratch / "elsewhere" / "rep.ps.buf"), "not ours");
    EXPECT_NE(contents(scratch / "rep.ps.buf").find("1\tline\n"), std::string::npos);
    destroy(a);
    EXPECT_FALSE(fs::exists(scratch / "rep.ps.buf"));
    EXPECT_EQ(contents(scratch / "elsewhere" / "rep.ps.buf"), "not ours");
    fs::current_path(scratch);

    // A second live handle on the same buffer path is refused; the first one's records stay.
    PrintHandle_t *c = create(cm);
    open(b, "same.ps");
    write(b, "first");
    std::fflush(b->buffer);
    EXPECT_EQ(abort_text([&] { open(c, "same.ps"); }),
              "Buffer file " + (scratch / "same.ps.buf").string() + " is already in use by Print Handle " + [&] {
                  char t[32];
                  std::snprintf(t, sizeof t, "%lX", reinterpret_cast<unsigned long>(b));
                  return std::string(t);
              }());
    EXPECT_EQ(abort_text([&] { open(c, (scratch / "elsewhere" / ".." / "same.ps").string()); }).substr(0, 12), "Buffer file ");
    close(b);
    EXPECT_NE(contents(scratch / "same.ps.buf").find("1\tfirst\n"), std::string::npos);

    // A file put in place of the handle's own is another's: destroying leaves it alone.
    fs::remove(scratch / "same.ps.buf");
    write_file(scratch / "same.ps.buf", "replaced");
    destroy(b);
    EXPECT_EQ(contents(scratch / "same.ps.buf"), "replaced");

    // The buffer file is not reached through a link.
    fs::create_symlink(scratch / "target", scratch / "link.ps.buf");
    EXPECT_EQ(abort_text([&] { open(c, "link.ps"); }),
              "Error 40 (Too many levels of symbolic links) attempting to create buffer file " +
                  (scratch / "link.ps.buf").string());
    EXPECT_FALSE(fs::exists(scratch / "target"));
}

} // namespace
