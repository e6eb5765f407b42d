// Replays of generated print buffers into PostScript, checked by ghostscript: the file runs
// without errors or substituted fonts, has the pages the layout arithmetic gives, and shows its
// headings, lines and colours. With LUMBA_SNAPSHOT_DIR set the pages are left there as PNG files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>
#include <sstream>
#include <string>
#include <vector>

#include "mem_mgt.h"
#include "print_handles.h"
#include "ps_fixture.h"
#include "ps_notes.h"
#include "ps_replay.h"
#include "read_error.h"

namespace {

namespace fs = std::filesystem;
using lumba_test::abort_text;
using ps_test::PsTest;

struct Ran {
    int status = -1;
    std::string out;  // standard output and error
};

Ran run(const std::vector<std::string> &command)
{
    std::vector<char *> argv;
    for (const std::string &a : command) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    gchar *out = nullptr, *err = nullptr;
    int wait = 0;
    GError *error = nullptr;
    Ran r;
    if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &wait, &error)) {
        r.out = error->message;
        g_error_free(error);
        return r;
    }
    r.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    r.out = std::string(out ? out : "") + (err ? err : "");
    g_free(out);
    g_free(err);
    return r;
}

std::string contents(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A print buffer written with the buffer file's own writers.
class Buffer {
public:
    explicit Buffer(const fs::path &path) : path_(path), file_(std::fopen(path.c_str(), "w")) {}
    ~Buffer() { finish(); }
    void open(const std::string &output, const std::string &format, const std::string &margins = "",
              const std::string &form = "A4")
    {
        psprint_write_record_type(file_, PR_OPEN);
        for (const std::string &t : {format, margins, form, output, std::string("C"), std::string("N")})
            psprint_write_text(file_, t);
    }
    void header(const std::string &text, const std::string &format, int level)
    {
        psprint_write_record_type(file_, PR_HEADER);
        psprint_write_text(file_, text);
        psprint_write_text(file_, format);
        psprint_write_integer(file_, 0);
        psprint_write_integer(file_, level);
        psprint_write_integer(file_, 0);
        psprint_write_real(file_, 0);
        psprint_write_real(file_, 0);
    }
    void footer(const std::string &text, const std::string &format)
    {
        psprint_write_record_type(file_, PR_FOOTER);
        psprint_write_text(file_, text);
        psprint_write_text(file_, format);
    }
    void write(const std::string &text, const std::string &format)
    {
        psprint_write_record_type(file_, PR_WRITE);
        psprint_write_text(file_, text);
        psprint_write_text(file_, format);
        psprint_write_text(file_, "");
        psprint_write_real(file_, 0);
    }
    void close() { psprint_write_record_type(file_, PR_CLOSE); }
    void finish()
    {
        if (file_) std::fclose(file_);
        file_ = nullptr;
    }

private:
    fs::path path_;
    std::FILE *file_;
};

class PsReplayTest : public PsTest {
protected:
    void TearDown() override
    {
        if (handle_.state) postscript_print_state_free(handle_.state);
        handle_.state = nullptr;
        DPS_FREE(handle_.path);
        PsTest::TearDown();
    }
    void replay(const fs::path &buffer)
    {
        DPS_FREE(handle_.path);
        handle_.path = Strcpy(buffer.c_str());
        psprint_replay(&handle_);
        DPS_FREE(handle_.path);
    }
    std::string replay_stop(const fs::path &buffer)
    {
        return abort_text([&] { replay(buffer); });
    }

    // Renders the report with ghostscript; the page files' paths.
    std::vector<fs::path> pages(const fs::path &report, const std::string &name)
    {
        const char *snapshots = std::getenv("LUMBA_SNAPSHOT_DIR");
        const fs::path dir = snapshots && *snapshots ? fs::path(snapshots) : scratch;
        const Ran gs = run({"gs", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=png16m", "-r72",
                            "-sOutputFile=" + (dir / (name + "-%d.png")).string(), report.string()});
        EXPECT_EQ(gs.status, 0) << gs.out;
        EXPECT_EQ(gs.out.find("Error"), std::string::npos) << gs.out;
        EXPECT_EQ(gs.out.find("Substituting font"), std::string::npos) << gs.out;
        std::vector<fs::path> files;
        for (int page = 1; fs::exists(dir / (name + "-" + std::to_string(page) + ".png")); ++page)
            files.push_back(dir / (name + "-" + std::to_string(page) + ".png"));
        return files;
    }

    PrintHandle_t handle_{};
};

std::string text_of(const fs::path &report)
{
    const Ran r = run({"ps2ascii", report.string()});
    EXPECT_EQ(r.status, 0) << r.out;
    return r.out;
}

// Whether the page shows a pixel of about that colour.
bool shows_colour(const fs::path &png, int red, int green, int blue)
{
    GError *error = nullptr;
    GdkPixbuf *pixbuf = gdk_pixbuf_new_from_file(png.c_str(), &error);
    if (!pixbuf) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
        return false;
    }
    const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf), channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guchar *pixels = gdk_pixbuf_read_pixels(pixbuf);
    bool found = false;
    for (int y = 0; y < height && !found; ++y)
        for (int x = 0; x < width && !found; ++x) {
            const guchar *p = pixels + y * stride + x * channels;
            found = std::abs(p[0] - red) < 40 && std::abs(p[1] - green) < 40 && std::abs(p[2] - blue) < 40;
        }
    g_object_unref(pixbuf);
    return found;
}

// The pages a report of lines of 10 points takes below a two-line heading (14 and 10 points) on
// A4 portrait, with a 10-point footer and the default margins: a line fits while y is at least its
// step (11.5) plus the footer's reserve (11.5 and the bottom margin).
int expected_pages(int lines)
{
    const double top = 0.7 * 72 / 2.54, bottom = 1.2 * 72 / 2.54, step = 10 * 1.15;
    const double reserve = step + bottom, first = 842 - (14 + top) - step;
    int pages = 1;
    double y = first;
    for (int i = 0; i < lines; ++i) {
        if (step + reserve > y) {
            ++pages;
            y = first;
        }
        y -= step;
    }
    return pages;
}

TEST_F(PsReplayTest, AReportReplaysIntoPagesGhostscriptShows)
{
    const fs::path report = scratch / "report.ps", buffer = scratch / "report.ps.buf";
    {
        Buffer b(buffer);
        b.open(report.string(), "mtag_base,mtag_water");
        b.header("Monthly report\rCafé accounts", "1,,2,,mtag_head\r1,,2,,mtag_plain", 0);
        b.footer("Page", "1,,10,,mtag_page");
        for (int i = 1; i <= 120; ++i) {
            char line[64];
            std::snprintf(line, sizeof line, "%-9s%4d%8s", (i == 3 ? "Café 3" : "Line " + std::to_string(1000 + i).substr(1)).c_str(),
                          i, i == 7 ? "12.50-" : "12.50");
            std::string text = line, format = "1,9,2,,mtag_plain;10,4,9,,mtag_right;14,8,14,,mtag_dec";
            if (i == 10) {
                text += "Remarks: a longer remark that wraps over several lines\rand a second paragraph";
                format += ";22,,15,,mtag_wrap5";
            }
            b.write(text, format);
        }
        b.close();
    }
    replay(buffer);
    const std::string ps = contents(report);
    EXPECT_TRUE(ps.starts_with("%!PS-Adobe-3.0\n"));
    const int expected = expected_pages(120);
    EXPECT_EQ(expected, 2);
    const std::vector<fs::path> files = pages(report, "report");
    EXPECT_EQ(static_cast<int>(files.size()), expected);
    const std::string text = text_of(report);
    std::size_t headings = 0;
    for (std::size_t at = 0; (at = text.find("Monthly report", at)) != std::string::npos; ++at) ++headings;
    EXPECT_EQ(static_cast<int>(headings), expected) << text;
    EXPECT_NE(text.find("Café accounts"), std::string::npos) << text;
    EXPECT_NE(text.find("Café 3"), std::string::npos) << text;
    std::size_t last = 0;
    for (int i = 1; i <= 120; ++i) {
        if (i == 3) continue;
        const std::string name = "Line " + std::to_string(1000 + i).substr(1);
        const std::size_t at = text.find(name);
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_GT(at, last) << name << " is out of order";
        last = at;
    }
    for (const char *piece : {"Remarks: a longer", "and a second paragraph", "Page 1"}) EXPECT_NE(text.find(piece), std::string::npos) << piece;
    ASSERT_FALSE(files.empty());
    EXPECT_TRUE(shows_colour(files[0], 255, 0, 0)) << "the negative amount prints in its colour";
    EXPECT_TRUE(fs::exists(buffer)) << "the buffer stays for further replays";
}

TEST_F(PsReplayTest, ReportsWithoutPageHeadingOrWithUnpositionedColumnsRun)
{
    const fs::path report = scratch / "plain.ps", buffer = scratch / "plain.ps.buf";
    {
        Buffer b(buffer);
        b.open(report.string(), "");
        b.write("First line", "");
        b.write("Total 12.50", "1,6,,,mtag_plain;7,,,,mtag_right");
        b.write("Rule", "1,,2,15,mtag_rule");
        b.write("Times bold italic", "1,,,,mtag_tbi");
        b.close();
    }
    replay(buffer);
    const std::string ps = contents(report);
    const std::size_t set_up = ps.find(" F ");
    ASSERT_NE(set_up, std::string::npos) << "the first line carries the page set-up";
    EXPECT_NE(ps.find("\n814.2 F 0 0 0 C 8 (First line) sfH\n", set_up - 40), std::string::npos) << ps;
    EXPECT_NE(ps.find("8 (12.50) sfH"), std::string::npos);
    EXPECT_EQ(pages(report, "plain").size(), 1u);
    const std::string text = text_of(report);
    EXPECT_NE(text.find("First line"), std::string::npos) << text;
    EXPECT_NE(text.find("12.50"), std::string::npos) << text;
}

TEST_F(PsReplayTest, OnlyOpenAndCloseGiveAPrologAndOnePageEnd)
{
    const fs::path report = scratch / "empty.ps", buffer = scratch / "empty.ps.buf";
    {
        Buffer b(buffer);
        b.open(report.string(), "");
        b.close();
    }
    replay(buffer);
    const std::string ps = contents(report);
    EXPECT_TRUE(ps.starts_with(postscript_prolog_text().substr(0, 40)));
    EXPECT_TRUE(ps.ends_with("S\n\n"));
    const std::size_t end = ps.rfind("% Date:");
    EXPECT_EQ(ps.find('\n', end) + 1, ps.size() - 3) << "the page end is the date line, S and two line feeds";
}

TEST_F(PsReplayTest, BrokenBuffersStopAndLeaveTheirFiles)
{
    const fs::path report = scratch / "twice.ps", buffer = scratch / "twice.ps.buf";
    {
        Buffer b(buffer);
        b.open(report.string(), "");
        b.write("line", "");
        b.open(report.string(), "");
        b.close();
    }
    EXPECT_EQ(replay_stop(buffer), "Encountered multiple buffer open records");
    EXPECT_TRUE(fs::exists(report));
    EXPECT_TRUE(fs::exists(buffer));
    EXPECT_EQ(handle_.state, nullptr);
    EXPECT_EQ(handle_.buffer, nullptr);

    const fs::path empty = scratch / "never.ps.buf";
    std::ofstream(empty).flush();
    EXPECT_EQ(replay_stop(empty), "Perhaps ipsclose() isn't called");
    EXPECT_TRUE(fs::exists(empty));
}

// A format the print state refuses stops the replay with its text, from the report's default
// format or a line's, and the report and buffer stay.
TEST_F(PsReplayTest, FaultyFormatsStopTheReplay)
{
    struct {
        const char *name, *default_format, *line_format, *stop;
    } cases[] = {
        {"default", "mtag_base;mtag_page", "", "page-number format tag attribute mtag_page not allowed in a default tag"},
        {"line", "mtag_base", "1,2,,,mtag_red;2,3,,,mtag_big", "igdrill: Style Tag 'mtag_big' spans source text positions of multiple prior tags"},
    };
    for (const auto &c : cases) {
        const fs::path report = scratch / (std::string(c.name) + ".ps"), buffer = scratch / (std::string(c.name) + ".ps.buf");
        {
            Buffer b(buffer);
            b.open(report.string(), c.default_format);
            b.write("a line", c.line_format);
            b.close();
        }
        EXPECT_EQ(replay_stop(buffer), c.stop) << c.name;
        EXPECT_TRUE(fs::exists(report)) << c.name;
        EXPECT_TRUE(fs::exists(buffer)) << c.name;
        EXPECT_EQ(handle_.state, nullptr) << c.name;
    }
}

// A fault of the style tags file stops the replay before the report is made.
TEST_F(PsReplayTest, AFaultyStyleTagsFileStopsTheReplay)
{
    std::ofstream(std::string(PPATH_ROOT) + "/conf/tags", std::ios::trunc) << "mtag_base { print-colour: #12345g; }\n";
    const fs::path report = scratch / "tags.ps", buffer = scratch / "tags.ps.buf";
    {
        Buffer b(buffer);
        b.open(report.string(), "mtag_base");
        b.write("a line", "");
        b.close();
    }
    EXPECT_EQ(replay_stop(buffer), "Found unexpected attribute value '12345g' in Style Tag 'mtag_base{print-colour:#12345g;' (b)");
    EXPECT_FALSE(fs::exists(report));
    EXPECT_EQ(handle_.state, nullptr);
}

TEST_F(PsReplayTest, TheOutputFileIsNotFollowedThroughALink)
{
    const fs::path target = scratch / "elsewhere", report = scratch / "linked.ps", buffer = scratch / "linked.ps.buf";
    std::ofstream(target) << "keep";
    fs::create_symlink(target, report);
    {
        Buffer b(buffer);
        b.open(report.string(), "");
        b.close();
    }
    EXPECT_TRUE(replay_stop(buffer).starts_with("Error ")) << "a link in the output's place is refused";
    EXPECT_EQ(contents(target), "keep");
}

// ---- Page layout, step by step ----------------------------------------------------------------

class PsLayoutTest : public PsTest {
protected:
    void SetUp() override
    {
        PsTest::SetUp();
        state->output_file = std::fopen((scratch / "layout.ps").c_str(), "w");
        state->page_set_up = 1;
    }
    void TearDown() override
    {
        if (state && state->output_file) std::fclose(state->output_file);
        if (state) state->output_file = nullptr;
        PsTest::TearDown();
    }
    // What the steps wrote so far.
    std::string output()
    {
        std::fflush(state->output_file);
        return contents(scratch / "layout.ps");
    }
    // Lines of 10 points.
    void write(const std::string &text, float keep = 0) { pswrite_ps(state, text, "1,,1,,mtag_base", keep, 0); }
};

TEST_F(PsLayoutTest, ALineFitsWhileItsStepAndTheFooterReserveDo)
{
    const float reserve = 20 + 1.2f * 72 / 2.54f;  // a 20-point footer above the bottom margin
    for (const auto &[y, breaks] : {std::pair{65.6f, false}, std::pair{65.4f, true}}) {
        SCOPED_TRACE(y);
        state->footer_reserve = reserve;
        state->current_y = y;
        state->page_number = 1;
        write("line");
        EXPECT_EQ(state->page_number, breaks ? 2 : 1);
        if (!breaks) { EXPECT_NEAR(state->current_y, y - 11.5f, 1e-3); }
    }
}

TEST_F(PsLayoutTest, AKeepSpaceThatDoesNotFitBreaksThePage)
{
    state->current_y = 100;
    write("kept", 5.0f);  // 5 cm is 141.73 points
    EXPECT_EQ(state->page_number, 2);
    EXPECT_NE(output().find("S\n"), std::string::npos);
}

TEST_F(PsLayoutTest, StoreOnlyHeadingsWaitForTheNextPage)
{
    write("first");
    psheader_ps(state, "Later heading", "1,,2,,mtag_base", 0, 0, 1, 0, 0);
    EXPECT_EQ(output().find("Later heading"), std::string::npos) << "nothing where it stands";
    state->current_y = 10;
    write("second");
    const std::string out = output();
    const std::size_t end = out.find("S\n"), heading = out.find("(Later heading)");
    ASSERT_NE(end, std::string::npos);
    EXPECT_GT(heading, end) << "printed at the top of the next page";
    EXPECT_LT(heading, out.find("(second)"));
}

TEST_F(PsLayoutTest, ANewPageHeadingOnAnEmptyPageTakesNoExtraPage)
{
    psheader_ps(state, "Top", "1,,2,,mtag_base", 1, 0, 0, 0, 0);
    EXPECT_EQ(state->page_number, 1);
    EXPECT_NE(output().find("(Top)"), std::string::npos);
    write("line");
    psheader_ps(state, "Next", "1,,2,,mtag_base", 1, 1, 0, 0, 0);
    EXPECT_EQ(state->page_number, 2) << "on a page with content it begins a new one";
}

TEST_F(PsLayoutTest, AnEmptyLineMovesDownByAShareOfItsStep)
{
    write("\t");  // a line whose only segment prints nothing
    EXPECT_NEAR(state->current_y, 842 - 0.35f * 10 * 1.15f, 1e-3);
    EXPECT_EQ(output(), "");
}

TEST_F(PsLayoutTest, CompletedMultiLinesAreFlushedOnLinesOfTheirOwn)
{
    const std::string remark = "one\rtwo\rthree";
    pswrite_ps(state, "x" + remark, "1,1,1,,mtag_base;2,,5,,mtag_wrapdone", 0, 0);
    EXPECT_EQ(state->multi_line_phase, 2);
    ASSERT_FALSE(postscript_parse_format("1,,1,,mtag_base", state, 1));
    EXPECT_TRUE(pswrite_do_clear_multi_line(state, 0));
    EXPECT_FALSE(pswrite_do_clear_multi_line(state, 1)) << "a flush line does not flush";
    postscript_free_format_line(state);
    ASSERT_FALSE(postscript_parse_format("1,,5,,mtag_wrap5", state, 1));
    EXPECT_FALSE(pswrite_do_clear_multi_line(state, 0)) << "a line that carries a multi-line field";
    postscript_free_format_line(state);
    const float y = state->current_y;
    pswrite_clear_note(state, 0);
    EXPECT_EQ(state->multi_lines, nullptr);
    EXPECT_EQ(state->multi_line_phase, 0);
    EXPECT_FLOAT_EQ(state->line_spacing, 1.15f) << "the flush's spacing is given back";
    EXPECT_NEAR(state->current_y, y - 2 * 8 * 1.05f, 1e-3) << "two flush lines of the field's 8 points at 1.05";
    const std::string out = output();
    EXPECT_LT(out.find("(one)"), out.find("(two)"));
    EXPECT_LT(out.find("(two)"), out.find("(three)"));
}

TEST_F(PsLayoutTest, ALineRenderedAgainAfterAPageBreakBeginsItsMultiLineOnce)
{
    state->current_y = 10;
    pswrite_ps(state, "xone\rtwo", "1,1,1,,mtag_base;2,,5,,mtag_wrap5", 0, 0);
    EXPECT_EQ(state->page_number, 2);
    EXPECT_EQ(state->multi_line_count, 1);
    ASSERT_NE(state->multi_lines, nullptr);
    EXPECT_EQ(state->multi_lines->next, nullptr);
    write("y");
    EXPECT_EQ(state->multi_lines, nullptr);
    const std::string out = output();
    const std::size_t two = out.find("(two)");
    ASSERT_NE(two, std::string::npos);
    EXPECT_EQ(out.find("(two)", two + 1), std::string::npos) << out;
    EXPECT_NE(out.find("0 0 0 C 1.00 10 (x) sgH"), std::string::npos) << "the new page names its colour\n" << out;
}

TEST_F(PsLayoutTest, AMultiLineInAHeadingContinuesOnce)
{
    // Three words of ten fill 5 cm: the fourth continues on the next line.
    const std::string ten(10, 'a'), last(10, 'b');
    psheader_ps(state, "H" + ten + " " + ten + " " + ten + " " + last, "1,1,1,,mtag_base;2,,5,,mtag_wrap5", 0, 0, 0, 0, 0);
    EXPECT_EQ(state->multi_line_count, 1) << "measuring the heading began nothing";
    write("y");
    EXPECT_EQ(state->multi_lines, nullptr);
    const std::string out = output();
    const std::size_t once = out.find("(" + last + ")");
    ASSERT_NE(once, std::string::npos) << out;
    EXPECT_EQ(out.find("(" + last + ")", once + 1), std::string::npos) << out;
}

TEST_F(PsLayoutTest, UncompletedMultiLinesWaitUnlessForced)
{
    pswrite_ps(state, "xone\rtwo", "1,1,1,,mtag_base;2,,5,,mtag_wrap5", 0, 0);
    pswrite_clear_note(state, 0);
    ASSERT_NE(state->multi_lines, nullptr) << "phase 1: the remark continues on later lines";
    pswrite_clear_note(state, 1);
    EXPECT_EQ(state->multi_lines, nullptr);
    EXPECT_NE(output().find("(two)"), std::string::npos);
    pswrite_ps(state, "xone\rtwo", "1,1,1,,mtag_base;2,,5,,mtag_wrap5", 0, 0);
    state->multi_line_phase = 0;
    EXPECT_EQ(abort_text([&] { pswrite_clear_note(state, 1); }),
              "'note_phase' or 'multi_line_phase' must be one or two when a Note is printing");
}

} // namespace
