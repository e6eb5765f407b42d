// The small shared services: trimming, the clock and the interval timer, system error texts, the
// picture-header probe (against ImageMagick's identify on pictures made at test time) and the
// existence and link tests of names.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <glib.h>

#include "command_output.h"
#include "intrinsic_call.h"
#include "misc.h"
#include "scratch.h"
#include "test_host.h"

namespace fs = std::filesystem;
using lumba_test::command_output;
using lumba_test::IntrinsicOutcome;

TEST(Trim, FourWaysOfTrimming)
{
    struct {
        const char *in, *space, *space_m, *blank, *trim;
    } cases[] = {
        {"", "", "", "", ""},
        {"abc", "abc", "abc", "abc", "abc"},
        {"  a\t", "", "  a", "", "  a"},               // leading white space is never removed
        {"ab cd  ", "ab", "ab cd", "ab", "ab cd"},
        {"a\tb c", "a", "a\tb c", "a\tb", "a\tb c"},     // a blank is code 32 only
        {"x \n\v\f\r", "x", "x", "x", "x"},
        {" \t ", "", "", "", ""},
        {"\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0"},  // not white space
    };
    for (const auto &c : cases) {
        std::string a = c.in, b = c.in, d = c.in;
        EXPECT_STREQ(utrunc_space(a.data()), c.space) << c.in;
        EXPECT_EQ(utrunc_space_m(c.in), c.space_m) << c.in;
        EXPECT_STREQ(utrunc_blank(b.data()), c.blank) << c.in;
        EXPECT_STREQ(umisc_trim(d.data()), c.trim) << c.in;
    }
}

// The precise clock: time() may lag it by a tick.
static std::time_t now_seconds()
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return t.tv_sec;
}

TEST(Clock, ReadingsAgreeWithTheSystemClock)
{
    const std::time_t before = now_seconds();
    std::int32_t seconds = 0, micro = -1;
    misc_get_time(&seconds, &micro);
    const std::int64_t ms = DpsStartTimer();
    int year, month, day, hour, minute, second, usec = -1;
    misc_get_date(&year, &month, &day, &hour, &minute, &second, &usec);
    const std::time_t after = now_seconds();

    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_GE(micro, 0);
    EXPECT_LT(micro, 1000000);
    EXPECT_GE(ms, static_cast<std::int64_t>(before) * 1000);
    EXPECT_LE(ms, static_cast<std::int64_t>(after) * 1000 + 999);
    EXPECT_GE(usec, 0);
    EXPECT_LT(usec, 1000000);
    // The date is UTC, whatever the local time zone says.
    struct tm utc;
    const std::time_t t = after;
    gmtime_r(&t, &utc);
    struct tm got{};
    got.tm_year = year - 1900, got.tm_mon = month - 1, got.tm_mday = day;
    got.tm_hour = hour, got.tm_min = minute, got.tm_sec = second;
    EXPECT_LE(std::llabs(static_cast<long long>(timegm(&got)) - static_cast<long long>(timegm(&utc))), 1);
    EXPECT_GE(year, 2024);
}

namespace {
std::int64_t fake_now;
std::int64_t fake_clock() { return fake_now; }
} // namespace

TEST(Clock, IntervalTimerPrintsLapsSinceTheLastReset)
{
    MillisecondClock saved = set_timer_clock(fake_clock);
    IntrinsicOutcome calls;
    struct {
        std::int64_t now;
        int code;
        const char *printed;
    } steps[] = {
        {5000000, in_ITIMER_RESET, "\n -- Timer reset\n\n"},
        {5001234, in_ITIMER_LAP, "\n -- Timer elapsed 1.2340s\n\n"},
        {5002500, in_ITIMER_LAP, "\n -- Timer elapsed 2.5000s\n\n"},  // a lap does not restart the timer
        {4999500, in_ITIMER_LAP, "\n -- Timer elapsed -0.5000s\n\n"},  // the clock went back
        {6000000, in_ITIMER_RESET, "\n -- Timer reset\n\n"},
        {6000007, in_ITIMER_LAP, "\n -- Timer elapsed 0.0070s\n\n"},
    };
    for (const auto &s : steps) {
        fake_now = s.now;
        testing::internal::CaptureStderr();
        EXPECT_EQ(calls.statement(s.code, {}), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), s.printed) << s.now;
    }
    set_timer_clock(saved);
}

TEST(SystemErrors, TextOfErrnoClearsIt)
{
    errno = ENOENT;
    EXPECT_EQ(misc_get_error(), "No such file or directory");
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(misc_error_text(EACCES), "Permission denied");
    EXPECT_EQ(misc_error_text(99999), "Unknown error 99999");
}

namespace {

struct Probe {
    std::int64_t height = -1, width = -1;
    std::int32_t bits = -1, kind = -1;
};

Probe probe(const std::string &path)
{
    Probe p;
    misc_get_image_stats(&p.height, &p.width, &p.bits, &p.kind, path.c_str());
    return p;
}

// A JPEG whose frame header is pushed beyond the first 64 KiB by two comment segments.
std::string with_long_comments(const std::string &jpeg)
{
    std::string comment = "\xFF\xFE";
    const std::size_t body = 40000;
    comment += static_cast<char>((body + 2) >> 8);
    comment += static_cast<char>((body + 2) & 0xFF);
    comment += std::string(body, 'c');
    return jpeg.substr(0, 2) + comment + comment + jpeg.substr(2);
}

} // namespace

class ImageProbe : public lumba_test::ScratchDir {};

TEST_F(ImageProbe, AgreesWithIdentify)
{
    const std::string convert = "/usr/bin/convert";  // by full path: the distribution's own
    struct {
        const char *file, *make;
        std::int32_t bits, kind;
    } cases[] = {
        {"rgba.png", "-size 640x480 xc:rgba(255,0,0,0.5) PNG32:", 32, IMAGE_PNG},
        {"rgb.png", "-size 40x30 gradient:red-blue PNG24:", 24, IMAGE_PNG},
        {"palette.png", "-size 33x17 gradient: PNG8:", 8, IMAGE_PNG},
        {"grey.png", "-size 21x300 gradient: -colorspace Gray -depth 16 PNG:", 16, IMAGE_PNG},
        // A full 256-entry colour table: 8 bits per pixel, as identify's depth.
        {"grey.gif", "-size 4x256 gradient:black-white GIF:", 8, IMAGE_GIF},
        {"true.bmp", "-size 70x50 gradient:red-blue -type TrueColor BMP3:", 24, IMAGE_BMP},
        {"base.jpg", "-size 90x60 gradient:red-blue -quality 80 JPEG:", 24, IMAGE_JPEG},
        {"progressive.jpg", "-size 1000x700 gradient:red-blue -interlace Plane JPEG:", 24, IMAGE_JPEG},
        {"grey.jpg", "-size 50x40 gradient: -colorspace Gray JPEG:", 8, IMAGE_JPEG},
    };
    for (const auto &c : cases) {
        const std::string path = at(c.file);
        std::vector<std::string> make{convert};
        std::istringstream words(c.make);
        for (std::string w; words >> w;) make.push_back(w);
        make.back() += path;
        command_output(make, {});
        std::istringstream identified(command_output({"/usr/bin/identify", "-format", "%w %h %z", path}, {}));
        std::int64_t w = 0, h = 0;
        int depth = 0;
        identified >> w >> h >> depth;
        const Probe p = probe(path);
        EXPECT_EQ(p.width, w) << c.file;
        EXPECT_EQ(p.height, h) << c.file;
        EXPECT_EQ(p.bits, c.bits) << c.file;
        EXPECT_EQ(p.kind, c.kind) << c.file;
        EXPECT_EQ(p.bits % depth, 0) << c.file << ": whole samples of identify's depth " << depth;
    }
    // The progressive picture's frame marker is 0xC2.
    EXPECT_NE(read("progressive.jpg").find("\xFF\xC2"), std::string::npos);
}

TEST_F(ImageProbe, JpegFrameBeyondTheFirst64KiBIsNotFound)
{
    command_output({"/usr/bin/convert", "-size", "90x60", "gradient:red-blue", "JPEG:" + at("base.jpg")}, {});
    write("far.jpg", with_long_comments(read("base.jpg")));
    ASSERT_GT(read("far.jpg").find("\xFF\xC0"), 65535u);
    // identify still reads it: the probe's limit, not a damaged file.
    EXPECT_EQ(command_output({"/usr/bin/identify", "-format", "%w %h", at("far.jpg")}, {}), "90 60");
    const Probe p = probe(at("far.jpg"));
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(p.height, 0);
    EXPECT_EQ(p.bits, 0);
    EXPECT_EQ(p.kind, IMAGE_UNKNOWN);

    // Only one comment: the frame lies within reach and is found.
    const std::string jpeg = read("base.jpg");
    const std::string one = with_long_comments(jpeg).substr(0, 2 + 40004) + jpeg.substr(2);
    write("near.jpg", one);
    const Probe q = probe(at("near.jpg"));
    EXPECT_EQ(q.kind, IMAGE_JPEG);
    EXPECT_EQ(q.width, 90);
    EXPECT_EQ(q.height, 60);
}

TEST_F(ImageProbe, HeadersTakenAtTheirWord)
{
    struct {
        const char *name;
        std::string bytes;
        Probe expected;
    } cases[] = {
        {"text", "hello, world\n", {0, 0, 0, IMAGE_UNKNOWN}},
        {"empty", "", {0, 0, 0, IMAGE_UNKNOWN}},
        // "BM" makes a BMP, whatever follows.
        {"bm", "BM" + std::string(16, '\0') + std::string("\x10\x01\0\0\x20\0\0\0\0\0\x18", 11), {32, 272, 24, IMAGE_BMP}},
        {"gif", std::string("GIF89a\x05\x00\x07\x00\xF7", 11), {7, 5, 8, IMAGE_GIF}},
        // A PNG colour type that does not exist: nothing.
        {"png", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\x02\x80\0\0\x01\xE0\x08\x05", 26), {0, 0, 0, IMAGE_UNKNOWN}},
        // JPEG tables but no frame: nothing.
        {"tables", std::string("\xFF\xD8\xFF\xC4\x00\x04\x00\x00\xFF\xCC\x00\x02\xFF\xD9", 14), {0, 0, 0, IMAGE_UNKNOWN}},
    };
    for (const auto &c : cases) {
        write(c.name, c.bytes);
        const Probe p = probe(at(c.name));
        EXPECT_EQ(p.width, c.expected.width) << c.name;
        EXPECT_EQ(p.height, c.expected.height) << c.name;
        EXPECT_EQ(p.bits, c.expected.bits) << c.name;
        EXPECT_EQ(p.kind, c.expected.kind) << c.name;
    }
    EXPECT_EQ(lumba_test::abort_text([&] { probe(at("missing")); }),
              "Error No such file or directory when attempting to open " + at("missing") + " for image stats");
    // A directory opens (it is refused when read) where no other user may write; directly in a
    // shared directory, as the scratch directory is in /tmp, it is refused when opened.
    fs::create_directory(at("sub"));
    EXPECT_EQ(lumba_test::abort_text([&] { probe(at("sub")); }),
              "Error Is a directory when reading " + at("sub") + " for image stats");
    EXPECT_EQ(lumba_test::abort_text([&] { probe(dir); }),
              "Error Is a directory when attempting to open " + dir + " for image stats");
}

class Names : public lumba_test::ScratchDir {};

TEST_F(Names, ExistenceCodes)
{
    write("file", "x");
    fs::create_directory(at("dir"));
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    fs::create_symlink(at("nowhere"), at("dangling"));
    fs::create_symlink(at("loop"), at("loop"));
    fs::create_symlink("file", at("to-file"));
    // A socket carries the directory bit in its type.
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", at("sock").c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(s);

    struct {
        std::string name;
        int code;
    } cases[] = {
        {at("file"), 1},        {at("file") + " \t", 1},  {at("dir"), 2},        {at("dir") + "/", 2},
        {at("missing"), 0},     {at("fifo"), -2},          {at("dangling"), 0},   {at("to-file"), 1},
        {at("loop"), -ELOOP},   {at("file") + "/x", -ENOTDIR}, {at("sock"), 2},  {"/dev/null", -2},
        {" " + at("file"), 0},  // leading white space stays part of the name
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ufexists3(c.name.c_str()), c.code) << c.name;
        EXPECT_EQ(ufexists1(c.name.c_str()), c.code) << c.name;
    }
    EXPECT_EQ(ufexists2("sh"), 1);
    EXPECT_EQ(ufexists2("sh  "), 1);
    EXPECT_EQ(ufexists2("no-such-program-lumba"), 0);
    EXPECT_EQ(ufexists2(at("file").c_str()), 0);  // not executable
}

TEST_F(Names, LinksAreTestedAndResolved)
{
    write("file", "x");
    fs::create_directories(at("a/b"));
    // A chain of relative links, each read from its own directory, not the current one.
    fs::create_symlink("../../file", at("a/b/first"));
    fs::create_symlink("b/first", at("a/second"));
    fs::create_symlink(at("a/second"), at("third"));
    fs::create_symlink(at("missing"), at("dangling"));

    EXPECT_EQ(test_is_link(at("third").c_str()), 1);
    EXPECT_EQ(test_is_link(at("a/b/first").c_str()), 1);
    EXPECT_EQ(test_is_link(at("dangling").c_str()), 0);
    EXPECT_EQ(test_is_link(at("file").c_str()), 0);
    EXPECT_EQ(test_is_link(at("missing").c_str()), 0);

    EXPECT_EQ(fs::canonical(resolve_link(at("third").c_str())), fs::canonical(at("file")));
    EXPECT_EQ(resolve_link(at("file").c_str()), at("file"));
    EXPECT_EQ(resolve_link(at("dangling").c_str()), at("dangling"));
}
