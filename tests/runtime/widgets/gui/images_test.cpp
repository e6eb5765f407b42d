// Image fields, buttons and clickable boxes on a live form: picture codes and files, the
// place-holder, thumbnails preferred, sizes, clearing, and a button click taking the Enter road.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include <glib/gstdio.h>

#include "cclear.h"
#include "cclick.h"
#include "gimage.h"
#include "gmisc.h"
#include "gui_env.h"
#include "pictures_fixture.h"
#include "planted.h"
#include "xdotool.h"

using namespace pictures_test;

namespace {

constexpr int KEYF = 1, IMAGE = 2, GO = 3;  // the form's fields
const lumba_test::Rgba MAGENTA{255, 0, 255, 255}, GREEN{0, 255, 0, 255}, BLUE{0, 0, 255, 255};

// IGIMAGE_NEW (cm, index, field flag, picture [, width, height, 0]) into D.
std::string image_new(int index, int field, const std::string &picture, const std::vector<int> &size = {})
{
    std::string t = ref(CM) + num(index) + num(field) + picture;
    for (int n : size) t += num(n);
    if (!size.empty()) t += num(0L);
    return t + fn(in_IGIMAGE_NEW, 4 + static_cast<int>(size.size()) + (size.empty() ? 0 : 1)) + set(D);
}
std::string image_print(const std::string &field, const std::string &picture)
{
    return ref(CM) + field + picture + st(in_IGIMAGE_PRINT, 3);
}

// The name of the themed icon a paintable draws, without a "-symbolic" the theme chose.
std::string icon_name(GdkPaintable *paintable)
{
    std::string name = gtk_icon_paintable_get_icon_name(GTK_ICON_PAINTABLE(paintable));
    const std::string symbolic = "-symbolic";
    if (name.size() > symbolic.size() && name.ends_with(symbolic)) name.resize(name.size() - symbolic.size());
    return name;
}

class ImagesTest : public PicturesTest {
protected:
    void SetUp() override
    {
        PicturesTest::SetUp();
        g_mkdir_with_parents("/usr/local/oska/graphics", 0755);
        make_picture("/usr/local/oska/graphics/place_Image.png", 8, 8, "magenta");
        make_picture(dir + "/green.png", 8, 8, "lime");
    }

    // The form: a key input field, an image field 40 x 40 and a button, Pre_Focus and Post_Focus
    // routines on the window, then extra.
    ExecTest::Outcome build_form(const std::string &extra, const std::vector<int> &size = {40, 40})
    {
        cmat_free_all();
        return form(routine_test::common + typed_test::window_form() +
                        typed_test::add_field(typed_test::input(KEYF, 0, 10, "s"), WIDGET_INPUT, TAB_KEY, "A") +
                        typed_test::add_field(image_new(IMAGE, 1, num(0L), size), WIDGET_IMAGE, TAB_STANDARD, "IMG") +
                        typed_test::add_field(str("Go") + fn(in_IGBUTTON_NEW, 1) + set(D), WIDGET_BUTTON,
                                              TAB_STANDARD, "BT") +
                        attach(CM, "Pre_Focus", routine_test::COUNTER, 0) +
                        attach(CM, "Post_Focus", routine_test::PROBE, 0) + extra,
                    routine_test::routines);
    }
    image_data *image() { return static_cast<image_data *>(entry_record(IMAGE)); }
    // The colour in the middle of the image field's picture.
    lumba_test::Rgba centre()
    {
        gtk_widget_show(cm()->window);
        const lumba_test::Snapshot s = drawn(image()->image);
        return s.pixel(s.width() / 2, s.height() / 2);
    }
};

TEST_F(ImagesTest, PrintShowsIconsFilesThumbnailsAndThePlaceHolder)
{
    make_picture(dir + "/red.png", 8, 8, "red");
    g_mkdir(".thumb", 0755);
    make_picture(dir + "/.thumb/tmb_red.png", 8, 8, "blue");
    make_picture(dir + "/png.jpg", 8, 8, "red", "PNG");
    make_picture(dir + "/.thumb/tmb_png.jpg", 8, 8, "blue", "PNG");
    struct Case {
        std::string picture;
        const char *icon;          // shows this themed icon, or
        lumba_test::Rgba colour = {};  // this colour (transparent: nothing)
        std::string abort = {};
    } cases[] = {
        {num(1), "object-select"},
        {num(2), "window-close"},
        {num(3), "list-add"},
        {num(4), "process-stop"},
        {num(5), "document-print"},
        {num(0L), nullptr, MAGENTA},
        {num(6), nullptr, MAGENTA},
        {num(-1), nullptr, MAGENTA},
        {str("abcd"), nullptr, MAGENTA},
        {str("ab        "), nullptr, MAGENTA},
        {str(dir + "/green.png"), nullptr, GREEN},
        {str(dir + "/green.png     "), nullptr, GREEN},
        {str(dir + "/red.png"), nullptr, BLUE},
        {str(dir + "/missing.png"), nullptr, {0, 0, 0, 0}},
        {str(dir + "/png.jpg"), nullptr, {}, "A png file has an extension of jpg " + dir + "/png.jpg"},
        {str(dir + "/.thumb/tmb_red.png"), nullptr, {},
         "Not permitted to reference the thumbnail of an image " + dir + "/.thumb/tmb_red.png"},
    };
    for (const Case &c : cases) {
        // Each case follows a picture, which an icon drops.
        const Outcome o = build_form(image_print(num(IMAGE), str(dir + "/green.png")) + image_print(str("IMG"), c.picture));
        EXPECT_EQ(o.abort, c.abort) << c.picture;
        if (!c.abort.empty()) continue;
        GdkPaintable *shown = gtk_picture_get_paintable(GTK_PICTURE(image()->image));
        if (c.icon) {
            ASSERT_TRUE(GTK_IS_ICON_PAINTABLE(shown)) << c.picture;
            EXPECT_EQ(icon_name(shown), c.icon);
            EXPECT_EQ(image()->picture, nullptr) << "the earlier picture is dropped";
        } else if (c.colour.a == 0) {
            EXPECT_EQ(shown, nullptr) << c.picture;
            EXPECT_EQ(image()->picture, nullptr);
        } else {
            EXPECT_NE(image()->picture, nullptr) << c.picture;
            EXPECT_EQ(centre(), c.colour) << c.picture;
        }
    }
}

// A picture shown from a shared directory of another user's must be the run's own (or root's): a
// link they planted under its name (to a picture only root may read), a FIFO (which would hold
// the window) and a picture of theirs show nothing; a thumbnail of theirs beside the run's own
// picture is passed over for the picture itself.
TEST_F(ImagesTest, OnlyTheRunsOwnPicturesShowFromASharedDirectory)
{
    const std::string pub = dir + "/pub";
    lumba_test::make_their_shared_directory(pub);
    ASSERT_EQ(chmod((dir + "/green.png").c_str(), 0600), 0);
    lumba_test::plant_link(dir + "/green.png", pub + "/link.png");
    lumba_test::plant_fifo(pub + "/fifo.png");
    make_picture(pub + "/theirs.png", 8, 8, "lime");
    ASSERT_EQ(chown((pub + "/theirs.png").c_str(), lumba_test::OTHER_USER, lumba_test::OTHER_USER), 0);
    make_picture(pub + "/mine.png", 8, 8, "lime");
    lumba_test::plant_directory(pub + "/.thumb");
    make_picture(pub + "/.thumb/tmb_mine.png", 8, 8, "blue");
    ASSERT_EQ(chown((pub + "/.thumb/tmb_mine.png").c_str(), lumba_test::OTHER_USER, lumba_test::OTHER_USER), 0);
    std::ifstream green(dir + "/green.png", std::ios::binary);
    const lumba_test::FifoFeeder feeder(pub + "/fifo.png", std::string(std::istreambuf_iterator<char>(green), {}));
    for (const char *name : {"link.png", "fifo.png", "theirs.png"}) {
        const Outcome o = build_form(image_print(num(IMAGE), str(dir + "/green.png")) + image_print(num(IMAGE), str(pub + "/" + name)));
        EXPECT_EQ(o.abort, "") << name;
        EXPECT_EQ(image()->picture, nullptr) << name;
        EXPECT_EQ(gtk_picture_get_paintable(GTK_PICTURE(image()->image)), nullptr) << name;
    }
    const Outcome o = build_form(image_print(num(IMAGE), str(pub + "/mine.png")));
    EXPECT_EQ(o.abort, "");
    ASSERT_NE(image()->picture, nullptr);
    EXPECT_EQ(centre(), GREEN);
}

TEST_F(ImagesTest, TheImageIsEmptyUntilPrintedAndClearingShowsThePlaceHolder)
{
    ASSERT_EQ(build_form("").abort, "");
    EXPECT_EQ(gtk_picture_get_paintable(GTK_PICTURE(image()->image)), nullptr);
    EXPECT_NE(image()->picture, nullptr) << "the place-holder was loaded for the field";
    EXPECT_EQ(gtk_button_get_child(GTK_BUTTON(image()->button)), image()->image);

    ASSERT_EQ(build_form(image_print(num(IMAGE), str(dir + "/green.png"))).abort, "");
    EXPECT_EQ(centre(), GREEN);
    cclear_fields(cm(), 1);
    EXPECT_EQ(centre(), MAGENTA);
}

TEST_F(ImagesTest, SizesArgumentsAndPlainImages)
{
    struct Case {
        std::vector<int> size;
        int width, height;  // the image's size request
    } sizes[] = {{{}, -1, -1}, {{50, 30}, 50, 30}, {{0, 120}, -1, -1}, {{120, 0}, -1, -1}, {{-5, 40}, -1, -1}};
    for (const Case &c : sizes) {
        ASSERT_EQ(build_form(image_print(num(IMAGE), num(0L)), c.size).abort, "");
        int w = 0, h = 0;
        gtk_widget_get_size_request(image()->image, &w, &h);
        EXPECT_EQ(w, c.width) << c.size.size();
        EXPECT_EQ(h, c.height);
    }
    ASSERT_EQ(build_form(image_print(num(IMAGE), num(0L)), {0, 120}).abort, "");
    int natural = 0;
    gtk_widget_measure(image()->image, GTK_ORIENTATION_VERTICAL, -1, nullptr, &natural, nullptr, nullptr);
    EXPECT_EQ(natural, gdk_pixbuf_get_height(image()->picture)) << "a zero width keeps the natural size";

    struct Refused {
        std::string body;
        std::string abort;
    } refused[] = {
        {ref(CM) + num(IMAGE) + num(1) + num(0L) + num(4) + fn(in_IGIMAGE_NEW, 5), "Invalid number of parameters"},
        {ref(CM) + num(IMAGE) + num(2) + num(0L) + fn(in_IGIMAGE_NEW, 4), "Invalid value 2 to third parameter"},
        {num(0L) + num(IMAGE) + num(1) + num(0L) + fn(in_IGIMAGE_NEW, 4), "No Process Control Matrix found"},
        {ref(CM) + num(IMAGE) + st(in_IGIMAGE_PRINT, 2), "Invalid number of parameters"},
        {image_print(num(KEYF), str(dir + "/green.png")), "image_data->type == CM_FIELD_TYPE_GIMAGE"},
        {image_print(num(KEYF), num(1)), "image_data->type == CM_FIELD_TYPE_GIMAGE"},
    };
    for (const Refused &r : refused) {
        const std::string abort = build_form(r.body).abort;
        EXPECT_NE(abort.find(r.abort), std::string::npos) << abort;
    }

    // Without the field flag: a plain image, of the icon or the picture.
    ASSERT_EQ(build_form(image_new(0, 0, num(2)) + val(D) + set(X) + image_new(0, 0, str(dir + "/green.png"))).abort, "");
    GtkWidget *icon = handle_widget(static_cast<std::uintptr_t>(handle(X)));
    GtkWidget *picture = handle_widget(static_cast<std::uintptr_t>(handle(D)));
    ASSERT_TRUE(GTK_IS_IMAGE(icon));
    EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(icon)), "window-close");
    ASSERT_TRUE(GTK_IS_PICTURE(picture));
    EXPECT_NE(gtk_picture_get_paintable(GTK_PICTURE(picture)), nullptr);
}

// The natural size of a widget, as a layout would give it room.
std::pair<int, int> natural_size(GtkWidget *w)
{
    int width = 0, height = 0;
    gtk_widget_measure(w, GTK_ORIENTATION_HORIZONTAL, -1, nullptr, &width, nullptr, nullptr);
    gtk_widget_measure(w, GTK_ORIENTATION_VERTICAL, -1, nullptr, &height, nullptr, nullptr);
    return {width, height};
}

TEST_F(ImagesTest, PicturesShowAtTheirOwnSize)
{
    make_picture(dir + "/wide.png", 200, 100, "lime");
    make_picture(dir + "/tall.png", 30, 90, "blue");
    struct Case {
        std::string picture;
        int width, height;
        lumba_test::Rgba colour;
    } cases[] = {{dir + "/wide.png", 200, 100, GREEN}, {dir + "/tall.png", 30, 90, BLUE}};
    for (const Case &c : cases) {
        ASSERT_EQ(build_form(image_print(num(IMAGE), str(c.picture)), {}).abort, "");
        EXPECT_EQ(natural_size(image()->image), std::make_pair(c.width, c.height)) << c.picture;
        gtk_widget_show(cm()->window);
        const lumba_test::Snapshot s = drawn(image()->image);
        EXPECT_EQ(s.pixel(c.width - 3, c.height - 3), c.colour) << c.picture << ": the far corner is drawn";
        EXPECT_GE(s.count(c.colour), c.width * c.height * 9 / 10) << c.picture;

        // A plain image of the same picture.
        ASSERT_EQ(build_form(image_new(0, 0, str(c.picture))).abort, "");
        EXPECT_EQ(natural_size(handle_widget(static_cast<std::uintptr_t>(handle(D)))), std::make_pair(c.width, c.height));
    }
}

// The resident and peak memory of this process in kB ("VmRSS", "VmHWM").
long memory_kb(const char *what)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(std::string(what) + ":", 0) == 0) return std::atol(line.c_str() + std::strlen(what) + 1);
    return -1;
}

// A PNG of one colour, written row by row by Python's zlib: no tool holds the whole picture.
void make_huge_png(const std::string &path, int side)
{
    const std::string script =
        "import struct, sys, zlib\n"
        "side = int(sys.argv[2])\n"
        "def chunk(kind, data):\n"
        "    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))\n"
        "row = b'\\x00' + b'\\x00\\xff\\x00' * side\n"
        "z = zlib.compressobj(1)\n"
        "data = b''.join(z.compress(row) for _ in range(side)) + z.flush()\n"
        "with open(sys.argv[1], 'wb') as f:\n"
        "    f.write(b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 2, 0, 0, 0))\n"
        "            + chunk(b'IDAT', data) + chunk(b'IEND', b''))\n";
    bool ok = false;
    run({"/usr/bin/python3", "-c", script, path, std::to_string(side)}, &ok);
    ASSERT_TRUE(ok) << "made " << path;
}

TEST_F(ImagesTest, AHugePictureIsLoadedScaledIntoTheArea)
{
    constexpr int side = 12000;  // 432 MB as RGB pixels
    make_huge_png(dir + "/huge.png", side);
    int width = 0, height = 0;
    ASSERT_NE(gdk_pixbuf_get_file_info((dir + "/huge.png").c_str(), &width, &height), nullptr);
    ASSERT_EQ(width, side);
    ASSERT_EQ(height, side);
    record.oae_app_width = 1010;
    record.oae_app_height = 630;
    const long before = memory_kb("VmRSS");
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
    ASSERT_EQ(build_form(image_print(num(IMAGE), str(dir + "/huge.png")), {}).abort, "");
    gtk_widget_show(cm()->window);
    const lumba_test::Snapshot s = drawn(image()->image);
    ASSERT_NE(image()->picture, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(image()->picture), 630) << "scaled into the 1010 x 630 area, square";
    EXPECT_EQ(gdk_pixbuf_get_height(image()->picture), 630);
    EXPECT_EQ(natural_size(image()->image), std::make_pair(630, 630));
    EXPECT_EQ(s.pixel(600, 600), GREEN);
    const long kept = memory_kb("VmRSS") - before;
    EXPECT_LT(kept, 100 * 1024) << "kB kept after the picture shows";
    // The PNG decoder reads the file whole (432 MB) before the picture is scaled; no more than that.
    EXPECT_LT(memory_kb("VmHWM") - before, 600 * 1024) << "kB at the peak";

    // With a size of its own the field loads the picture at that size (a smaller one will do: a
    // second decoding of the huge one would only double the test's time).
    make_huge_png(dir + "/big.png", 2000);
    ASSERT_EQ(build_form(image_print(num(IMAGE), str(dir + "/big.png")), {120, 80}).abort, "");
    EXPECT_EQ(gdk_pixbuf_get_width(image()->picture), 80);
    EXPECT_EQ(gdk_pixbuf_get_height(image()->picture), 80);
}

TEST_F(ImagesTest, AButtonClickTakesTheEnterRoad)
{
    record.log_level_lumbas = 0;
    ASSERT_EQ(build_form("").abort, "");
    GtkWidget *go = widget_of(GO);
    ASSERT_TRUE(GTK_IS_BUTTON(go));
    focus(GO);
    const Pressed p = capture([&] { g_signal_emit_by_name(go, "clicked"); });
    EXPECT_EQ(p.abort, "");
    EXPECT_NE(std::find(p.lines.begin(), p.lines.end(), "===   Pressed Enter Key; Index =  3              ==="),
              p.lines.end());
    EXPECT_EQ(p.logged, std::vector<std::string>{"probe 3 -1 []"});
    EXPECT_STREQ(cm()->event_name, "Enter");

    // The same by a user's click on the screen.
    focus(GO);
    gtk_widget_show(cm()->window);
    ASSERT_TRUE(lumba_test::wait_drawn(go));
    lumba_test::Xdotool user(lumba_test::gui_display());
    int x = 0, y = 0;
    lumba_test::widget_centre(go, &x, &y);
    cm()->event_name[0] = '\0';
    const Pressed clicked = capture([&] {
        user.click(lumba_test::x_window_id(cm()->window), x, y);
        EXPECT_TRUE(lumba_test::wait_until([&] { return std::string(cm()->event_name) == "Enter"; }));
    });
    EXPECT_EQ(clicked.abort, "");
    EXPECT_EQ(clicked.logged, std::vector<std::string>{"probe 3 -1 []"});
    EXPECT_NE(std::find(clicked.lines.begin(), clicked.lines.end(), "===   Pressed Enter Key; Index =  3              ==="),
              clicked.lines.end());
}

// A click on an image field runs its Activate routine, after the field left ran its Post_Focus;
// answered true, the focus goes back to where it came from, whose Pre_Focus runs again.
TEST_F(ImagesTest, AClickOnTheImageRunsItsActivateRoutine)
{
    ASSERT_EQ(build_form(attach(CM, "Activate", routine_test::PLAINFN, IMAGE, false)).abort, "");
    focus(KEYF);
    cm()->focus_initialised = 1;
    set_text(KEYF, "k");  // a key field must be filled to be left
    answer(1);
    const Pressed p = capture([&] { cclick_button_press(image()->button, 1, 1, 5, 5, &record); });
    EXPECT_EQ(p.abort, "");
    EXPECT_EQ(p.logged, (std::vector<std::string>{"probe 1 -1 [k]", "plain 2", "pre 1"}));
    EXPECT_EQ(cm()->current_focus, KEYF);

    // An image field's click must find an Activate routine.
    ASSERT_EQ(build_form("").abort, "");
    focus(KEYF);
    cm()->focus_initialised = 1;
    set_text(KEYF, "k");
    answer(1);
    const std::string abort = capture([&] { cclick_button_press(image()->button, 1, 1, 5, 5, &record); }).abort;
    EXPECT_EQ(abort.rfind("cinvoke_basic_routine: 'basic' function not found for Action Code Activate; Index 2;", 0), 0u)
        << abort;
}

TEST_F(ImagesTest, ButtonsAndClickableBoxes)
{
    const std::string label = str("Text") + num("0.0") + num(10) + fn(in_IGLABEL_SIMPLE_NEW, 3);
    struct Case {
        std::string body;
        std::string abort;  // a prefix
    } refused[] = {
        {fn(in_IGBUTTON_NEW, 0), "Invalid number of parameters"},
        {str("a") + str("b") + fn(in_IGBUTTON_NEW, 2), "Invalid number of parameters"},
        {str("a") + fn(in_IGBUTTON_NEW_EMPTY, 1), "Invalid number of parameters"},
        {label + set(L) + val(L) + label + st(in_IGBUTTON_ADD_LABEL, 2), "Invalid widget handle "},
        {fn(in_IGBUTTON_NEW_EMPTY, 0) + set(X) + val(X) + num(12345) + st(in_IGBUTTON_ADD_LABEL, 2),
         "Invalid widget handle 3039"},
        {fn(in_IGBUTTON_NEW_EMPTY, 0) + set(X) + val(X) + val(W) + st(in_IGBUTTON_ADD_LABEL, 2), "Invalid widget handle "},
        {fn(in_IGBUTTON_NEW_EMPTY, 0) + set(X) + val(X) + num("0.5") + label + st(in_IGEBOX_ADD_LABEL, 3),
         "Invalid widget handle "},
        {fn(in_IGEBOX_NEW, 0) + set(X) + val(X) + num("0.5") + val(X) + st(in_IGEBOX_ADD_LABEL, 3),
         "Invalid widget handle "},
    };
    for (const Case &c : refused) {
        const std::string abort = build_form(c.body).abort;
        EXPECT_EQ(abort.rfind(c.abort, 0), 0u) << abort;
    }

    ASSERT_EQ(build_form(fn(in_IGBUTTON_NEW_EMPTY, 0) + set(X) + label + set(L) + val(X) + val(L) +
                         st(in_IGBUTTON_ADD_LABEL, 2) + fn(in_IGEBOX_NEW, 0) + set(E) + label + set(E2) + val(E) +
                         num("0.25") + val(E2) + st(in_IGEBOX_ADD_LABEL, 3))
                  .abort,
              "");
    GtkWidget *button = handle_widget(static_cast<std::uintptr_t>(handle(X)));
    GtkWidget *child = handle_widget(static_cast<std::uintptr_t>(handle(L)));
    ASSERT_TRUE(GTK_IS_BUTTON(button));
    EXPECT_EQ(gtk_button_get_child(GTK_BUTTON(button)), child);
    GtkWidget *box = handle_widget(static_cast<std::uintptr_t>(handle(E)));
    GtkWidget *boxed = handle_widget(static_cast<std::uintptr_t>(handle(E2)));
    ASSERT_TRUE(GTK_IS_BOX(box));
    EXPECT_EQ(gtk_widget_get_first_child(box), boxed);
    EXPECT_FLOAT_EQ(gtk_label_get_xalign(GTK_LABEL(boxed)), 0.25f);
    EXPECT_FLOAT_EQ(gtk_label_get_yalign(GTK_LABEL(boxed)), 0.5f);
    EXPECT_NE(oska_widget_get_controller(box, "gebox-button"), nullptr);
    EXPECT_NE(oska_widget_get_controller(box, "gebox"), nullptr);
    EXPECT_NE(oska_widget_get_controller(image()->button, "gimage-button"), nullptr);
    EXPECT_NE(oska_widget_get_controller(image()->button, "gimage"), nullptr);
}

} // namespace
