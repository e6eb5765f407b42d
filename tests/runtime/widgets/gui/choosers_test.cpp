// The file and image choosers and the picture store, on pictures made by convert: the picture
// check against identify, thumbnails, rotation, names a shell would take apart, copies that would
// overwrite their own source, confinement to the top directory and the dialogs' answers.
#include <algorithm>
#include <map>
#include <tuple>

#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gchooser.h"
#include "gui_env.h"
#include "pictures_fixture.h"
#include "planted.h"
#include "sanitizer_reports.h"
#include "xdotool.h"
#if defined(LUMBA_ASAN)
#include <sanitizer/lsan_interface.h>
#endif

using namespace pictures_test;

namespace {

// Allocations made while one exists are not reported as leaks by a sanitizer build.
struct LeaksIgnored {
#if defined(LUMBA_ASAN)
    LeaksIgnored() { __lsan_disable(); }
    ~LeaksIgnored() { __lsan_enable(); }
#endif
};

std::string copy(const std::string &from, const std::string &to)
{
    return str(from) + str(to) + st(in_IGIMAGECHOOSER_COPY, 2);
}
std::string rotate(const std::string &picture, int degrees)
{
    return str(picture) + num(degrees) + st(in_IGIMAGECHOOSER_ROTATE, 2);
}

bool white(const std::string &pixel) { return pixel == "white" || pixel.find("255,255,255") != std::string::npos; }
bool red(const std::string &pixel) { return pixel == "red" || pixel.find("255,0,0") != std::string::npos; }

class ChoosersTest : public PicturesTest {
protected:
    // A program of body alone, in windows mode.
    std::string program(const std::string &body) { return form(body).abort; }
    std::string thumb(const std::string &name) { return dir + "/.thumb/tmb_" + name; }

    // The chooser dialog now open, or nullptr.
    static GtkWidget *dialog()
    {
        GListModel *windows = gtk_window_get_toplevels();
        for (guint i = 0; i < g_list_model_get_n_items(windows); ++i) {
            auto *w = static_cast<GtkWidget *>(g_list_model_get_item(windows, i));
            g_object_unref(w);
            if (GTK_IS_FILE_CHOOSER_DIALOG(w) && gtk_widget_get_visible(w)) return w;
        }
        return nullptr;
    }
    // The path of a file the chooser gives (current folder, chosen file), "" for none.
    static std::string path_of(GFile *f)
    {
        if (!f) return "";
        char *p = g_file_get_path(f);
        std::string s = p ? p : "";
        g_free(p);
        g_object_unref(f);
        return s;
    }
    static std::string folder(GtkWidget *chooser)
    {
        return path_of(gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser)));
    }
    static std::string selected(GtkWidget *chooser) { return path_of(gtk_file_chooser_get_file(GTK_FILE_CHOOSER(chooser))); }
    // The entry that has the dialog's keyboard focus, or nullptr.
    static GtkEntry *location_entry(GtkWidget *chooser)
    {
        GtkWidget *focus = gtk_root_get_focus(GTK_ROOT(chooser));
        GtkWidget *entry = focus ? gtk_widget_get_ancestor(focus, GTK_TYPE_ENTRY) : nullptr;
        return entry ? GTK_ENTRY(entry) : nullptr;
    }
    static void move_to(GtkWidget *chooser, const std::string &path)
    {
        GFile *f = g_file_new_for_path(path.c_str());
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), f, nullptr);
        g_object_unref(f);
    }
    // Waits until the dialog's folder guard has looked at the folder times more: its timer comes
    // due again each time it has run.
    static bool guard_looked(GtkWidget *chooser, int times)
    {
        const auto *c = static_cast<const ChooserData *>(g_object_get_data(G_OBJECT(chooser), "chooser"));
        GSource *guard = g_main_context_find_source_by_id(nullptr, c->guard);
        for (int i = 0; i < times; ++i) {
            const gint64 due = g_source_get_ready_time(guard);
            if (!lumba_test::wait_until([&] { return g_source_get_ready_time(guard) != due; })) return false;
        }
        return true;
    }
    // The keys form with the chooser of the intrinsic opened on field 1 (top img, initial img/sub).
    void open(int intrinsic, const std::string &extra = "", const std::string &title = "Pick one")
    {
        g_mkdir_with_parents((dir + "/img/sub").c_str(), 0755);
        make_picture(dir + "/img/a.png", 10, 10, "red");
        const bool image = intrinsic == in_IGIMAGECHOOSER_NEW;
        build(extra + ref(CM) + num(KEY) + str(title) + str(dir + "/img/") + str(dir + "/img/sub") + str("*") +
              (image ? num(1) : "") + st(intrinsic, image ? 7 : 6));
        lumba_test::wait_until([] { return dialog() != nullptr; });
    }
};

TEST_F(ChoosersTest, ThePictureCheckMatchesContentToExtension)
{
    struct Case {
        const char *name;
        const char *format;  // the content, as convert writes and identify names it ("" a text file)
        std::string abort;   // "%s" stands for the path
    } cases[] = {
        {"a.png", "PNG", ""},
        {"b.jpg", "JPEG", ""},
        {"c.gif", "GIF", ""},
        {"d.bmp", "BMP", ""},
        {"E.PNG", "PNG", ""},
        {"f.JPG", "JPEG", ""},
        {"png.jpg", "PNG", "A png file has an extension of jpg %s"},
        {"gif.jpg", "GIF", "A gif file has an extension of jpg %s"},
        {"bmp.jpg", "BMP", "A bmp file has an extension of jpg %s"},
        {"jpg.png", "JPEG", "A jpeg file has an extension of png %s"},
        {"gif.png", "GIF", "A gif file has an extension of png %s"},
        {"bmp.png", "BMP", "A bmp file has an extension of png %s"},
        {"png.gif", "PNG", "A png file has an extension of gif %s"},
        {"jpg.gif", "JPEG", "A jpeg file has an extension of gif %s"},
        {"bmp.gif", "BMP", "A bmp file has an extension of gif %s"},
        {"png.bmp", "PNG", "A png file has an extension of bmp %s"},
        {"gif.bmp", "GIF", "A gif file has an extension of bmp %s"},
        {"jpg.bmp", "JPEG", "A jpeg file has an extension of bmp %s"},
        {"g.jpeg", "JPEG", "Invalid thumbnail name %s; Expecting 'jpg'"},
        {"h.tif", "PNG", "Invalid extension to the thumbnail %s"},
        {"noext", "PNG", "Invalid thumbnail name %s"},
        {"text.png", "", "Unknown type of image %s"},
    };
    const std::string known[] = {"PNG", "JPEG", "GIF", "BMP"};
    // One picture of each format, made and named by identify once: the cases copy its bytes.
    std::map<std::string, std::string> content;
    for (const std::string &k : known) {
        const std::string made = dir + "/made." + k;
        make_picture(made, 12, 9, "red", k == "JPEG" ? "JPG" : k);
        EXPECT_EQ(identify(made, "%m"), k);
        gchar *bytes = nullptr;
        gsize size = 0;
        ASSERT_TRUE(g_file_get_contents(made.c_str(), &bytes, &size, nullptr)) << made;
        content[k].assign(bytes, size);
        g_free(bytes);
    }
    for (const Case &c : cases) {
        const std::string path = dir + "/" + c.name;
        const std::string &bytes = *c.format ? content[c.format] : "no picture here";
        g_file_set_contents(path.c_str(), bytes.data(), static_cast<gssize>(bytes.size()), nullptr);
        std::string expected = c.abort;
        if (auto at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, path);
        EXPECT_EQ(lumba_test::abort_text([&] { gimagechooser_thumbnail_val(path.c_str()); }), expected) << c.name;
        // identify is the oracle for the four extensions: accepted exactly when it agrees.
        const std::string name = c.name;
        const std::string ext = name.substr(name.rfind('.') + 1);
        for (const std::string &k : known) {
            char *lower = g_ascii_strdown(k.c_str(), -1);
            const std::string e = k == "JPEG" ? "jpg" : lower;
            g_free(lower);
            if (g_ascii_strcasecmp(ext.c_str(), e.c_str()) == 0 && *c.format) {
                EXPECT_EQ(expected.empty(), c.format == k) << c.name;
            }
        }
    }
    g_mkdir(".thumb", 0755);
    make_picture(thumb("a.png"), 5, 5, "red");
    EXPECT_EQ(lumba_test::abort_text([&] { gimagechooser_thumbnail_val(thumb("a.png").c_str()); }),
              "Not permitted to reference the thumbnail of an image " + thumb("a.png"));
    EXPECT_EQ(lumba_test::abort_text([&] { gimagechooser_thumbdir_check("ab"); }), "Invalid file name ab");
    EXPECT_EQ(lumba_test::abort_text([&] { gimagechooser_val_extension("a.jpeg", false); }),
              "Invalid file extension a.jpeg");
    EXPECT_EQ(lumba_test::abort_text([&] { gimagechooser_val_extension("a.jpeg", true); }), "");
    EXPECT_EQ(lumba_test::abort_text([&] { gimagechooser_val_extension(".png", true); }), "Invalid file name .png");
}

TEST_F(ChoosersTest, CopiesGetThumbnailsOf125SquarePixelsOnWhite)
{
    make_picture(dir + "/band.png", 40, 20, "red");
    make_picture(dir + "/wide.png", 300, 150, "red");
    ASSERT_EQ(program(copy(dir + "/band.png", dir + "/band2.png") + copy(dir + "/wide.png   ", dir + "/wide2.png  ")), "");
    EXPECT_EQ(checksum(dir + "/band2.png"), checksum(dir + "/band.png"));
    for (const char *name : {"band2.png", "wide2.png"}) {
        EXPECT_EQ(identify(thumb(name), "%w %h"), "125 125") << name;
        EXPECT_TRUE(white(identify(thumb(name), "%[pixel:p{0,0}]"))) << name;
        EXPECT_TRUE(red(identify(thumb(name), "%[pixel:p{62,62}]"))) << name;
    }
    // Shrunk to fit, never enlarged: the small band keeps its 20 rows, the wide picture gets 62.
    EXPECT_TRUE(white(identify(thumb("band2.png"), "%[pixel:p{62,45}]")));
    EXPECT_TRUE(red(identify(thumb("wide2.png"), "%[pixel:p{62,45}]")));
    std::string shown;
    EXPECT_EQ(gimagechooser_get_thumbnail((dir + "/band2.png").c_str(), &shown), 1);
    EXPECT_EQ(shown, thumb("band2.png"));
    EXPECT_EQ(gimagechooser_get_thumbnail((dir + "/band.png").c_str(), &shown), 0);
    EXPECT_EQ(shown, dir + "/band.png");

    // Background runs copy too.
    Back_ground = 1;
    ASSERT_EQ(program(copy(dir + "/band.png", dir + "/band3.png")), "");
    EXPECT_EQ(identify(thumb("band3.png"), "%w %h"), "125 125");

    EXPECT_EQ(program(copy(dir + "/band.png", dir + "/band.jpeg")), "Invalid file extension " + dir + "/band.jpeg");
    EXPECT_EQ(program(copy(dir + "/band.png", "ab")), "Invalid file name ab");
    EXPECT_EQ(program(str("x") + st(in_IGIMAGECHOOSER_COPY, 1)), "Wrong number of parameters 1");
    make_picture(dir + "/png.jpg", 8, 8, "red", "PNG");
    EXPECT_EQ(program(copy(dir + "/png.jpg", dir + "/out.jpg")), "A png file has an extension of jpg " + dir + "/png.jpg");
    EXPECT_FALSE(exists(dir + "/out.jpg")) << "nothing is copied";
}

TEST_F(ChoosersTest, AFailedConvertIsLoggedAndLeavesNoThumbnail)
{
    record.log_level_lumbas = 0;
    // A picture whose header reads as PNG but whose data ends early: convert refuses it.
    make_picture(dir + "/whole.png", 40, 40, "red");
    gchar *data = nullptr;
    gsize size = 0;
    ASSERT_TRUE(g_file_get_contents((dir + "/whole.png").c_str(), &data, &size, nullptr));
    ASSERT_TRUE(g_file_set_contents((dir + "/broken.png").c_str(), data, 40, nullptr));
    g_free(data);
    const Outcome o = form(copy(dir + "/broken.png", dir + "/copy.png"));
    EXPECT_EQ(o.abort, "");
    EXPECT_EQ(checksum(dir + "/copy.png"), checksum(dir + "/broken.png"));
    EXPECT_FALSE(exists(thumb("copy.png")));
    bool logged = false;
    for (const std::string &l : log_lines(o.err)) logged |= l.rfind("/usr/bin/convert failed on " + dir + "/copy.png", 0) == 0;
    EXPECT_TRUE(logged);
}

TEST_F(ChoosersTest, RotationTurnsPictureAndThumbnail)
{
    make_picture(dir + "/band.png", 40, 20, "red");
    ASSERT_EQ(program(copy(dir + "/band.png", dir + "/r.png")), "");
    EXPECT_TRUE(white(identify(thumb("r.png"), "%[pixel:p{62,45}]")));
    ASSERT_EQ(program(rotate(dir + "/r.png", 90)), "");
    EXPECT_EQ(identify(dir + "/r.png", "%w %h"), "20 40");
    EXPECT_EQ(identify(thumb("r.png"), "%w %h"), "125 125");
    EXPECT_TRUE(red(identify(thumb("r.png"), "%[pixel:p{62,45}]"))) << "the thumbnail's band stands upright";
    ASSERT_EQ(program(rotate(dir + "/r.png", -90) + rotate(dir + "/r.png", 180)), "");
    EXPECT_EQ(identify(dir + "/r.png", "%w %h"), "40 20");

    const std::string before = checksum(dir + "/r.png");
    EXPECT_EQ(program(rotate(dir + "/r.png", 270)), "Rotation must be -90, 90, or 180");
    EXPECT_EQ(checksum(dir + "/r.png"), before);
    EXPECT_EQ(program(rotate(dir + "/missing.png", 90)), "Image file " + dir + "/missing.png does not exist (c)");
    EXPECT_EQ(program(str(dir + "/r.png") + st(in_IGIMAGECHOOSER_ROTATE, 1)), "Wrong number of parameters 1");

    // By 0: the picture stays, a missing thumbnail is made.
    const std::string band = checksum(dir + "/band.png");
    ASSERT_EQ(program(rotate(dir + "/band.png", 0)), "");
    EXPECT_EQ(checksum(dir + "/band.png"), band);
    EXPECT_EQ(identify(thumb("band.png"), "%w %h"), "125 125");
    // A picture given without a directory part.
    EXPECT_EQ(program(rotate("band.png", 0)), "Invalid Image file name band.png; Must include path.");
}

TEST_F(ChoosersTest, NamesAShellWouldTakeApartGetTheirThumbnailsAndRunNothing)
{
    make_picture(dir + "/src.png", 30, 30, "red");
    for (const char *name : {"with space.png", "semi;colon.png", "$(touch x).png", "quo'te.png", "-dash.png", "back`touch y`.png"}) {
        ASSERT_EQ(program(copy(dir + "/src.png", dir + "/" + name)), "") << name;
        EXPECT_EQ(checksum(dir + "/" + name), checksum(dir + "/src.png")) << name;
        EXPECT_EQ(identify(thumb(name), "%w %h"), "125 125") << name;
        ASSERT_EQ(program(rotate(dir + "/" + name, 90)), "") << name;
        EXPECT_TRUE(red(identify(thumb(name), "%[pixel:p{62,62}]"))) << name;
    }
    EXPECT_FALSE(exists(dir + "/x"));
    EXPECT_FALSE(exists(dir + "/y"));
}

TEST_F(ChoosersTest, ACopyNeverOverwritesItsOwnSource)
{
    make_picture(dir + "/src.png", 30, 30, "red");
    make_picture(dir + "/other.png", 30, 30, "blue");
    const std::string sum = checksum(dir + "/src.png");
    ASSERT_EQ(symlink((dir + "/src.png").c_str(), (dir + "/soft.png").c_str()), 0);
    ASSERT_EQ(link((dir + "/src.png").c_str(), (dir + "/hard.png").c_str()), 0);
    ASSERT_EQ(symlink("other.png", (dir + "/to_other.png").c_str()), 0);
    for (const std::string &to : {dir + "/src.png", dir + "/soft.png", dir + "/hard.png", dir + "/./src.png"}) {
        EXPECT_EQ(program(copy(dir + "/src.png", to)), "Source and destination are the same file " + to);
        EXPECT_EQ(checksum(dir + "/src.png"), sum) << to;
    }
    EXPECT_EQ(program(copy(dir + "/soft.png", dir + "/hard.png")), "Source and destination are the same file " + dir + "/hard.png");
    // A destination that is a link is written where it leads; the link stays.
    ASSERT_EQ(program(copy(dir + "/src.png", dir + "/to_other.png")), "");
    EXPECT_EQ(checksum(dir + "/other.png"), sum);
    EXPECT_TRUE(g_file_test((dir + "/to_other.png").c_str(), G_FILE_TEST_IS_SYMLINK));
    EXPECT_EQ(identify(thumb("other.png"), "%w %h"), "125 125");
    // Nothing is left behind in the directory.
    EXPECT_EQ(pictures_test::run({"sh", "-c", "ls -A \"$0\" | grep -c copy_ || true", dir}), "0\n");
}

// Shared directories of another user's with what that user planted there: a link for a picture
// and a link for a subdirectory. No copy or rotation (convert included) writes through either;
// each is refused with its message and what the names lead to stays as it was.
TEST_F(ChoosersTest, NothingAnotherUserPlantedIsWrittenThrough)
{
    const std::string pub = dir + "/pub", elsewhere = dir + "/elsewhere";
    lumba_test::make_their_shared_directory(pub);
    g_mkdir_with_parents(elsewhere.c_str(), 0755);
    make_picture(dir + "/src.png", 40, 20, "red");
    make_picture(elsewhere + "/victim.png", 30, 30, "blue");
    const std::string victim = checksum(elsewhere + "/victim.png");
    lumba_test::plant_link(elsewhere + "/victim.png", pub + "/to-victim.png");
    lumba_test::plant_link(elsewhere, pub + "/sub");

    const std::string loop = "Too many levels of symbolic links";
    auto unwritable = [](const std::string &why, const std::string &name) {
        return "Error " + why + " encountered when attempting to open destination file for writing " + name;
    };
    struct {
        std::string body, stop;
    } cases[] = {
        {copy(dir + "/src.png", pub + "/to-victim.png"), unwritable(loop, pub + "/to-victim.png")},
        {copy(dir + "/src.png", pub + "/sub/new.png"), unwritable(loop, pub + "/sub/new.png")},
        {rotate(pub + "/to-victim.png", 90), "An error " + loop + " occurred running image rotation on " + pub + "/to-victim.png"},
        {rotate(pub + "/to-victim.png", 0), "An error " + loop + " occurred running image rotation on " + pub + "/to-victim.png"},
    };
    for (const auto &c : cases) EXPECT_EQ(program(c.body), c.stop);
    EXPECT_EQ(checksum(elsewhere + "/victim.png"), victim);
    EXPECT_EQ(pictures_test::run({"ls", "-A", elsewhere}), "victim.png\n");
}

// A thumbnail folder another user holds in a shared directory (a directory of theirs, a link, a
// file of theirs under the name ".thumb") is refused, but it does not stop the work asked for:
// the copy is made (and the picture turned), its thumbnail is left out with one log line, and
// nothing is written into or through what they planted.
TEST_F(ChoosersTest, AnotherUsersThumbnailFolderIsSkippedWithOneLogLine)
{
    record.log_level_lumbas = 0;
    const std::string elsewhere = dir + "/elsewhere";
    g_mkdir_with_parents(elsewhere.c_str(), 0755);
    make_picture(dir + "/src.png", 40, 20, "red");
    const std::string theirs = dir + "/theirs", linked = dir + "/linked", filed = dir + "/filed";
    for (const std::string &d : {theirs, linked, filed}) lumba_test::make_their_shared_directory(d);
    lumba_test::plant_directory(theirs + "/.thumb");
    lumba_test::plant_link(elsewhere, linked + "/.thumb");
    lumba_test::plant_file(filed + "/.thumb", "theirs");
    struct {
        std::string directory, why;
    } cases[] = {
        {theirs, "Permission denied"},
        {linked, "Too many levels of symbolic links"},
        {filed, "File exists"},
    };
    for (const auto &c : cases) {
        const std::string mine = c.directory + "/mine.png";
        for (const std::string &body : {copy(dir + "/src.png", mine), rotate(mine, 90)}) {
            const Outcome o = form(body);
            EXPECT_EQ(o.abort, "") << body;
            int logged = 0;
            for (const std::string &l : log_lines(o.err))
                logged += l == "Thumbnail " + c.directory + "/.thumb/tmb_mine.png not written: " + c.why;
            EXPECT_EQ(logged, 1) << body << o.err;
        }
        EXPECT_EQ(identify(mine, "%w %h"), "20 40") << c.directory;  // copied, then turned
    }
    EXPECT_EQ(pictures_test::run({"ls", "-A", elsewhere, theirs + "/.thumb"}), elsewhere + ":\n\n" + theirs + "/.thumb:\n");
    EXPECT_EQ(pictures_test::run({"cat", filed + "/.thumb"}), "theirs");
}

// A picture read from a shared directory must be the run's own: a link another user put under
// the name (to a picture only root may read), a FIFO and their own picture are refused by the
// first reader, the picture check, with its open error, and nothing is copied. A copy, and its
// thumbnail, is open to no one its source is closed to.
TEST_F(ChoosersTest, OnlyTheRunsOwnPicturesAreReadFromASharedDirectory)
{
    const std::string pub = dir + "/pub", out = dir + "/out";
    lumba_test::make_their_shared_directory(pub);
    g_mkdir_with_parents(out.c_str(), 0755);
    make_picture(dir + "/private.png", 40, 20, "red");
    ASSERT_EQ(chmod((dir + "/private.png").c_str(), 0600), 0);
    lumba_test::plant_link(dir + "/private.png", pub + "/link.png");
    lumba_test::plant_fifo(pub + "/fifo.png");
    make_picture(pub + "/theirs.png", 40, 20, "red");
    ASSERT_EQ(chown((pub + "/theirs.png").c_str(), lumba_test::OTHER_USER, lumba_test::OTHER_USER), 0);
    struct {
        const char *name, *why;
    } cases[] = {
        {"link.png", "Too many levels of symbolic links"},
        {"fifo.png", "Invalid argument"},
        {"theirs.png", "Permission denied"},
    };
    for (const auto &c : cases) {
        const std::string source = pub + "/" + c.name;
        EXPECT_EQ(program(copy(source, out + "/" + c.name)), "Error " + std::string(c.why) + " when attempting to open " + source + " for image stats");
    }
    EXPECT_EQ(pictures_test::run({"ls", "-A", out}), "");

    ASSERT_EQ(program(copy(dir + "/private.png", out + "/copy.png")), "");
    struct stat st {};
    ASSERT_EQ(stat((out + "/copy.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(stat((out + "/.thumb/tmb_copy.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// In a shared directory the run's own pictures are copied, turned and given thumbnails as
// anywhere, with nothing left behind under a temporary name.
TEST_F(ChoosersTest, OwnPicturesInASharedDirectoryAreCopiedAndTurned)
{
    const std::string pub = dir + "/pub";
    lumba_test::make_their_shared_directory(pub);
    make_picture(dir + "/src.png", 40, 20, "red");
    ASSERT_EQ(program(copy(dir + "/src.png", pub + "/mine.png")), "");
    EXPECT_EQ(checksum(pub + "/mine.png"), checksum(dir + "/src.png"));
    ASSERT_EQ(program(rotate(pub + "/mine.png", 90)), "");
    EXPECT_EQ(identify(pub + "/mine.png", "%w %h"), "20 40");
    EXPECT_EQ(identify(pub + "/.thumb/tmb_mine.png", "%w %h"), "125 125");
    EXPECT_TRUE(red(identify(pub + "/.thumb/tmb_mine.png", "%[pixel:p{62,45}]"))) << "the thumbnail's band stands upright";
    EXPECT_EQ(pictures_test::run({"ls", "-A", pub, pub + "/.thumb"}),
              pub + ":\n.thumb\nmine.png\n\n" + pub + "/.thumb:\ntmb_mine.png\n");
}

TEST_F(ChoosersTest, TheChooserIsConfinedToItsTopDirectory)
{
    for (const char *d : {"img/sub", "img2", "other"}) g_mkdir_with_parents((dir + "/" + d).c_str(), 0755);
    ASSERT_EQ(symlink((dir + "/img2").c_str(), (dir + "/img/out").c_str()), 0);
    ASSERT_EQ(symlink((dir + "/img").c_str(), (dir + "/top_link").c_str()), 0);
    const std::string top = dir + "/img";
    struct {
        std::string path;
        bool inside;
    } paths[] = {
        {top, true}, {top + "/", true}, {top + "/sub", true}, {top + "/sub/..", true}, {dir + "/top_link/sub", true},
        {dir + "/img2", false}, {top + "/../img2", false}, {top + "/out", false}, {dir, false}, {"/", false},
        {top + "/missing", false},
    };
    for (const auto &p : paths) EXPECT_EQ(gchooser_inside(top, p.path.c_str()), p.inside) << p.path;

    struct {
        std::string arguments;
        int nargs;
        std::string abort;
    } refused[] = {
        {str(dir + "/img") + str(dir + "/img2") + str("*") + num(1), 7,
         "The initial directory must be a subdirectory of the top directory"},
        {str(dir + "/img") + str(dir + "/img/out") + str("*") + num(1), 7,
         "The initial directory must be a subdirectory of the top directory"},
        {str("   ") + str(dir + "/img") + str("*") + num(1), 7, "Must specify a top level directory to constrain file selection"},
        {str(dir + "/img") + str("") + str("*") + num(1), 7, "Must specify an initial directory"},
        {str(dir + "/img") + str(dir + "/img") + str("*.png") + num(1), 7, "File Type '*.png' must be '*'"},
        {str(dir + "/img") + str(dir + "/img") + str("*") + num(2), 7,
         "Flag for creation of chooser thumbnails must be true or false; not 2"},
        {str(dir + "/img") + str(dir + "/img") + str("*"), 6, "Wrong number of parameters 6"},
    };
    for (const auto &r : refused) {
        EXPECT_EQ(program(routine_test::common + typed_test::window_form() + ref(CM) + num(KEY) + str("Pick") +
                          r.arguments + st(in_IGIMAGECHOOSER_NEW, r.nargs)),
                  r.abort);
        EXPECT_EQ(dialog(), nullptr);
    }
    // Missing directories: a warning, and no dialog.
    for (const auto &[top_dir, initial, warning] :
         {std::tuple{dir + "/nowhere/", dir + "/img", "Top level directory for choosing an Image does not exist at: " + dir + "/nowhere"},
          std::tuple{dir + "/img", dir + "/img/none/", "Initial directory for choosing an Image does not exist at: " + dir + "/img/none"}}) {
        messages.clear();
        EXPECT_EQ(program(routine_test::common + typed_test::window_form() + ref(CM) + num(KEY) + str("Pick") +
                          str(top_dir) + str(initial) + str("*") + st(in_IGFILECHOOSER_NEW, 6)),
                  "");
        EXPECT_EQ(messages, std::vector<std::string>{warning});
        EXPECT_EQ(dialog(), nullptr);
    }
}

TEST_F(ChoosersTest, TheFolderGuardBringsTheDialogBack)
{
    g_mkdir_with_parents((dir + "/img2").c_str(), 0755);
    open(in_IGIMAGECHOOSER_NEW);
    GtkWidget *d = dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(lumba_test::wait_until([&] { return folder(d) == dir + "/img/sub"; }));
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(d)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(d)), GTK_WINDOW(cm()->window));
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d)), "Pick one");
    // The file chooser's folder loads, cut short by each move, keep a few blocks of their own
    // when the machine is busy; they are the toolkit's, not the guard's.
    [[maybe_unused]] const LeaksIgnored toolkit;
    // The chooser looks a folder up before it moves there; then the guard brings it back.
    for (const std::string &away : {dir + "/img2", dir, std::string("/")}) {
        move_to(d, away);
        EXPECT_TRUE(lumba_test::wait_until([&] { return folder(d) == away; })) << away << ": " << folder(d);
        EXPECT_TRUE(lumba_test::wait_until([&] { return folder(d) == dir + "/img"; })) << away << ": " << folder(d);
    }
    // A folder inside stays: the guard looks at it twice and leaves it.
    move_to(d, dir + "/img/sub");
    ASSERT_TRUE(lumba_test::wait_until([&] { return folder(d) == dir + "/img/sub"; })) << folder(d);
    ASSERT_TRUE(guard_looked(d, 2));
    EXPECT_EQ(folder(d), dir + "/img/sub") << "a folder inside stays";
}

TEST_F(ChoosersTest, AnAnswerRunsThePostRoutineWithThePath)
{
    record.log_level_lumbas = 0;
    struct Case {
        int intrinsic;
        const char *code;
        int response;
        std::vector<std::string> logged;
    } cases[] = {
        {in_IGFILECHOOSER_NEW, "Post_File_Chooser", GTK_RESPONSE_OK, {"probe 1 -1 [%s]"}},
        {in_IGIMAGECHOOSER_NEW, "Post_Image_Chooser", GTK_RESPONSE_OK, {"probe 1 -1 [%s]"}},
        {in_IGFILECHOOSER_NEW, "Post_File_Chooser", GTK_RESPONSE_CANCEL, {}},
        {in_IGIMAGECHOOSER_NEW, "Post_Image_Chooser", GTK_RESPONSE_DELETE_EVENT, {}},
    };
    for (Case &c : cases) {
        open(c.intrinsic, attach(CM, c.code, routine_test::PROBE, KEY));
        GtkWidget *d = dialog();
        ASSERT_NE(d, nullptr);
        const std::string picture = dir + "/img/a.png";
        GFile *f = g_file_new_for_path(picture.c_str());
        gtk_file_chooser_set_file(GTK_FILE_CHOOSER(d), f, nullptr);
        g_object_unref(f);
        ASSERT_TRUE(lumba_test::wait_until([&] { return selected(d) == picture; }));
        const Pressed p = capture([&] { gtk_dialog_response(GTK_DIALOG(d), c.response); });
        EXPECT_EQ(p.abort, "") << c.code;
        for (std::string &l : c.logged) l.replace(l.find("%s"), 2, picture);
        EXPECT_EQ(p.logged, c.logged) << c.code << " " << c.response;
        if (c.response == GTK_RESPONSE_OK) {
            EXPECT_NE(std::find(p.lines.begin(), p.lines.end(), "Selected File: '" + picture + "'"), p.lines.end());
        }
        EXPECT_EQ(dialog(), nullptr) << "the dialog is gone";
    }

    // The routine is required.
    open(in_IGFILECHOOSER_NEW);
    GFile *f = g_file_new_for_path((dir + "/img/a.png").c_str());
    gtk_file_chooser_set_file(GTK_FILE_CHOOSER(dialog()), f, nullptr);
    g_object_unref(f);
    ASSERT_TRUE(lumba_test::wait_until([&] { return selected(dialog()) == dir + "/img/a.png"; }));
    const Pressed p = capture([&] { gtk_dialog_response(GTK_DIALOG(dialog()), GTK_RESPONSE_OK); });
    EXPECT_EQ(p.abort.rfind("cinvoke_basic_routine: 'basic' function not found for Action Code Post_File_Chooser; Index 1", 0), 0u)
        << p.abort;
}

TEST_F(ChoosersTest, AUserTypesTheName)
{
    open(in_IGFILECHOOSER_NEW, attach(CM, "Post_File_Chooser", routine_test::PROBE, KEY), "Pick by keys");
    GtkWidget *d = dialog();
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(lumba_test::wait_drawn(d));
    lumba_test::Xdotool user(lumba_test::gui_display());
    const std::string window = lumba_test::x_window_id(d);
    // GTK's location entry keeps a few bytes it never frees; they are not the run-time's.
    [[maybe_unused]] const LeaksIgnored ignored;
    const Pressed p = capture([&] {
        user.focus(window);
        // Ctrl-l shows the dialog's location entry (an earlier dialog may have left it showing a
        // name); the path typed over its text, Return opens the file once the dialog has taken the
        // name in and offers Open (before that the Return does nothing).
        const std::string path = dir + "/img/a.png";
        user.key({"ctrl+l", "ctrl+a"});
        ASSERT_TRUE(lumba_test::wait_until([&] { return location_entry(d) != nullptr; }));
        user.type(path);
        GtkWidget *open = gtk_dialog_get_widget_for_response(GTK_DIALOG(d), GTK_RESPONSE_OK);
        ASSERT_TRUE(lumba_test::wait_until([&] {
            return path == gtk_editable_get_text(GTK_EDITABLE(location_entry(d))) && gtk_widget_is_sensitive(open);
        }));
        user.key({"Return"});
        ASSERT_TRUE(lumba_test::wait_until([] { return dialog() == nullptr; }));
    });
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(p.logged, std::vector<std::string>{"probe 1 -1 [" + dir + "/img/a.png]"});
    EXPECT_EQ(dialog(), nullptr);
}

} // namespace
