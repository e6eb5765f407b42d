// What a user sees of a form under the style sheet the site gets (site/conf/gtk/gtk3.css, not the
// fixture's loud colours): typed input, dates and the menu's selection framed like entries with
// a visible focus; a form with a field of every kind (a picture to look at); the combo's open list
// with every item in sight and its separator after its text; the text view in the form's font;
// labels and tooltips of a megabyte cut to a bound, the cut logged; and long texts cut with an
// ellipsis (the whole text in a tooltip) or wrapped, in a window kept within the screen that
// scrolls a larger form.
#include <algorithm>

#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "gcombo.h"
#include "glabel.h"
#include "gwidget.h"
#include "handles.h"
#include "gmisc.h"
#include "gui_env.h"
#include "gtext.h"
#include "typed_fields_fixture.h"
#include "xdotool.h"

using namespace forms_test;
using namespace typed_test;

namespace {

using lumba_test::Rgba;

constexpr int kinds_kept[] = {CM_FIELD_TYPE_GCOMBO, CM_FIELD_TYPE_GTOGGLE_BUTTON, CM_FIELD_TYPE_GRADIO_BUTTON,
                              CM_FIELD_TYPE_GIMAGE};

// A field of the form: its constructor (leaving the handle in D), Widget Type and prompt.
struct Field {
    std::string make;
    int widget_type;
    const char *prompt;
};

std::string choice(int code, int index, const std::vector<std::string> &items)
{
    std::string t = ref(CM) + num(index) + fn(code, 2) + set(D);
    for (const std::string &item : items) t += val(D) + str(item) + st(in_IGCOMBO_TEXT_ADD, 2);
    return t;
}

// The form: a grid in the window's box, a row per field (its prompt in the first column, the field
// in the second, both filling their column's width).
std::string grid_form(const std::vector<Field> &fields)
{
    std::string t = window_form() + val(Y) + num(static_cast<long>(fields.size())) + num(2) + num(0L) + num(0L) +
                    fn(in_IGTABLE_NEW, 5) + set(Z);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Field &f = fields[i];
        const long row = static_cast<long>(i);
        auto attach_at = [&](const std::string &child, long column) {
            return val(Z) + child + num(column) + num(column + 1) + num(row) + num(row + 1) + num(4) + num(0L) +
                   num(6) + num(3) + st(in_IGTABLE_ATTACH, 10);
        };
        t += str(f.prompt) + num("0.0") + num(12) + fn(in_IGLABEL_SIMPLE_NEW, 3) + set(L) + attach_at(val(L), 0);
        t += f.make + attach_at(val(D), 1);
        Add a;
        a.entry = val(D);
        a.type = num(f.widget_type);
        a.name = str(std::string("F") + std::to_string(i + 1));
        t += a.text();
    }
    return t;
}

// Every kind of field a program puts on a form, indexes 1 to 10.
const std::vector<Field> every_kind = {
    {typed_test::label(1, 1, 0, "Order 1042"), WIDGET_LABEL, "Label"},
    {input(2, 0, 20, "s"), WIDGET_INPUT, "Input"},
    {date(3, 1), WIDGET_DATE, "Date"},
    {text_field(4, 0, 200, "s"), WIDGET_TEXT, "Text"},
    {checkbox(5), WIDGET_CHECKBOX, "Check box"},
    {choice(in_IGCOMBO_NEW, 6, {"Red", "Green", "Blue", "Yellow", "Black", "White"}), WIDGET_COMBO, "Combo"},
    {choice(in_IGRADIO_NEW, 7, {"One", "Two", "Three"}), WIDGET_RADIO, "Radio"},
    {choice(in_IGTOGGLE_NEW, 8, {"Left", "Mid", "Right"}), WIDGET_TOGGLE, "Toggle"},
    {ref(CM) + num(9) + num(1) + num(0L) + fn(in_IGIMAGE_NEW, 4) + set(D), WIDGET_IMAGE, "Image"},
    {str("Save") + fn(in_IGBUTTON_NEW, 1) + set(D), WIDGET_BUTTON, "Button"},
};
constexpr int INPUT = 2, DATE = 3, TEXT = 4, CHECK = 5, COMBO = 6, IMAGE = 9;

// The form of every kind, its image field showing the site's place-holder picture.
std::string every_kind_form()
{
    return grid_form(every_kind) + ref(CM) + num(IMAGE) + num(0L) + st(in_IGIMAGE_PRINT, 3);
}

// A text of n characters, words of a sentence over and over.
std::string long_text(std::size_t n)
{
    std::string t;
    while (t.size() < n) t += "a long text that says the same thing again and again ";
    t.resize(n);
    return t;
}

// A form of long texts: a label field of 300 characters 20 characters wide (plain, then
// wrapped), a right-aligned amount, a combo item of 200 characters, radio and toggle items of 80
// and a button label of 150.
const std::vector<Field> long_texts = {
    {typed_test::label(1, 1, 0, long_text(300)), WIDGET_LABEL, "Label"},
    {typed_test::label(2, 1, 0, long_text(300), {num(0L), num(0L), num(1), str("")}), WIDGET_LABEL, "Wrapped"},
    {ref(CM) + num(3) + num(0L) + num(12) + num("1.0") + num(1) + str("n2") + fn(in_IGINPUT_NEW, 7) + set(D),
     WIDGET_INPUT, "Amount"},
    {choice(in_IGCOMBO_NEW, 4, {"Post", long_text(200)}), WIDGET_COMBO, "Combo"},
    {choice(in_IGRADIO_NEW, 5, {long_text(80), "Two " + long_text(80)}), WIDGET_RADIO, "Radio"},
    {choice(in_IGTOGGLE_NEW, 6, {long_text(80), "Two " + long_text(80)}), WIDGET_TOGGLE, "Toggle"},
    {str(long_text(150)) + fn(in_IGBUTTON_NEW, 1) + set(D), WIDGET_BUTTON, "Button"},
};
constexpr int LONG_LABEL = 1, WRAPPED = 2, AMOUNT = 3, LONG_COMBO = 4, LONG_RADIO = 5, LONG_TOGGLE = 6, LONG_BUTTON = 7;

// The form of long texts with its amount and its combo set.
std::string long_texts_form()
{
    return grid_form(long_texts) + val(CM) + str("entry") + num(AMOUNT) + str("125.50") + st(in_IGPRINT, 4) +
           ref(CM) + num(LONG_COMBO) + num(2) + st(in_IGCOMBO_SET, 3);
}

// The labels showing inside a widget, depth first.
void labels_in(GtkWidget *w, std::vector<GtkWidget *> *out)
{
    if (GTK_IS_LABEL(w) && gtk_widget_get_mapped(w)) out->push_back(w);
    for (GtkWidget *c = gtk_widget_get_first_child(w); c; c = gtk_widget_get_next_sibling(c)) labels_in(c, out);
}

int luminance(Rgba c) { return (c.r * 3 + c.g * 6 + c.b) / 10; }

class LooksTest : public TypedFieldsTest {
protected:
    void SetUp() override
    {
        RecordKindHooks own[CM_FIELD_TYPE_GMAX + 1];
        for (int kind : kinds_kept) own[kind] = record_kind(kind);
        TypedFieldsTest::SetUp();
        for (int kind : kinds_kept) register_record_kind(kind, own[kind]);
        // The application area of a launch without options: a main window ("a") opens at 939 x 630.
        record.oae_app_width = 1010;
        record.oae_app_height = 630;
    }

    // The form's window on screen with the keyboard (a user's focus through the X server).
    void on_screen()
    {
        gtk_window_present(GTK_WINDOW(cm()->window));
        ASSERT_TRUE(lumba_test::wait_drawn(cm()->window));
        const lumba_test::Xdotool user(lumba_test::gui_display());
        user.focus(lumba_test::x_window_id(cm()->window));
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_window_is_active(GTK_WINDOW(cm()->window)); }, 5000));
    }
    // The widget of a field: a text field's view, a record's widget as placed, else the widget
    // its handle stands for.
    GtkWidget *field_widget(int index) const
    {
        void *e = entry_record(index);
        if (handle_kind(e) == CM_FIELD_TYPE_GTEXT) return static_cast<text_data *>(e)->view;
        if (const int kind = handle_kind(e); kind > 0 && field_kind(kind).packed) return field_kind(kind).packed(e);
        return entry_widget(index);
    }
    static graphene_rect_t bounds(GtkWidget *w)
    {
        graphene_rect_t r{};
        EXPECT_TRUE(gtk_widget_compute_bounds(w, GTK_WIDGET(gtk_widget_get_root(w)), &r));
        return r;
    }
    static void save(const lumba_test::Snapshot &s, const std::string &name)
    {
        if (const char *dir = std::getenv("LUMBA_SNAPSHOT_DIR")) {
            EXPECT_TRUE(s.save_png(std::string(dir) + "/" + name));
        }
    }
};

} // namespace

TEST_F(LooksTest, TypedFieldsAreFramedAndShowTheirFocus)
{
    ASSERT_EQ(form(every_kind_form()).abort, "");
    // The menu screen's selection entry is a text widget of the class "gmenu" (menu_test.cpp checks
    // the class on the real one); it stands in the same form.
    GtkWidget *selection = gtk_text_new();
    gtk_widget_add_css_class(selection, "gmenu");
    gtk_box_append(GTK_BOX(handle_widget(static_cast<std::uintptr_t>(handle(Y)))), selection);
    on_screen();
    struct Case {
        const char *css_class;
        GtkWidget *widget;
    } cases[] = {{"ginput", entry_widget(INPUT)}, {"oskadate", entry_widget(DATE)}, {"gmenu", selection}};
    std::vector<lumba_test::Snapshot> pictures;
    for (const Case &c : cases) {
        ASSERT_TRUE(gtk_widget_has_css_class(c.widget, c.css_class)) << c.css_class;
        gtk_widget_grab_focus(field_widget(TEXT));  // somewhere else
        const lumba_test::Snapshot idle = drawn(c.widget);
        ASSERT_FALSE(idle.empty()) << c.css_class;
        const int middle = idle.height() / 2;
        const Rgba frame = idle.pixel(0, middle), inside = idle.pixel(2, middle);
        EXPECT_LT(luminance(frame), 200) << c.css_class << ": a frame on the left edge";
        EXPECT_EQ(luminance(inside), 255) << c.css_class << ": a white ground inside it";
        EXPECT_LT(luminance(idle.pixel(idle.width() / 2, 0)), 200) << c.css_class << ": the frame's top";

        gtk_widget_grab_focus(c.widget);
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(c.widget); })) << c.css_class;
        const lumba_test::Snapshot focused = drawn(c.widget);
        const Rgba ring = focused.pixel(0, middle);
        EXPECT_GT(ring.b, ring.r + 80) << c.css_class << ": a blue frame while it has the keyboard";
        EXPECT_NE(ring, frame) << c.css_class;
        pictures.push_back(idle);
        pictures.push_back(focused);
    }
    save(lumba_test::Snapshot::side_by_side(pictures), "framed_fields.png");
}

TEST_F(LooksTest, AFormWithEveryFieldKind)
{
    ASSERT_EQ(form(every_kind_form()).abort, "");
    on_screen();
    const lumba_test::Snapshot picture = drawn(cm()->window);
    save(picture, "every_field_kind.png");
    float left = -1, bottom = 0;
    for (int index = 1; index <= static_cast<int>(every_kind.size()); ++index) {
        GtkWidget *w = field_widget(index);
        // The widget the grid holds: the field's own, or the box or scrolled window around it.
        while (gtk_widget_get_parent(w) && !GTK_IS_GRID(gtk_widget_get_parent(w))) w = gtk_widget_get_parent(w);
        const char *prompt = every_kind[index - 1].prompt;
        ASSERT_TRUE(gtk_widget_get_mapped(w)) << prompt;
        const graphene_rect_t r = bounds(w);
        EXPECT_GE(r.size.width, 14) << prompt;
        EXPECT_GE(r.size.height, 14) << prompt;
        if (left < 0) left = r.origin.x;
        EXPECT_EQ(r.origin.x, left) << prompt << ": fields line up on the column's start";
        EXPECT_GE(r.origin.y, bottom) << prompt << ": below the field before it";
        bottom = r.origin.y + r.size.height;
        EXPECT_LE(r.origin.x + r.size.width, picture.width()) << prompt;
        EXPECT_LE(bottom, picture.height()) << prompt;
    }
    // The check box keeps its own width in its cell: its focus ring goes round the box alone.
    GtkWidget *check = field_widget(CHECK);
    int natural = 0;
    gtk_widget_measure(check, GTK_ORIENTATION_HORIZONTAL, -1, nullptr, &natural, nullptr, nullptr);
    EXPECT_EQ(gtk_widget_get_width(check) + gtk_widget_get_margin_start(check) + gtk_widget_get_margin_end(check),
              natural);
    EXPECT_GT(gtk_widget_get_width(field_widget(INPUT)), 2 * natural) << "in a wider column";
}

TEST_F(LooksTest, TheComboListShowsEveryItemWithItsSeparatorAfterTheText)
{
    ASSERT_EQ(form(every_kind_form()).abort, "");
    on_screen();
    auto *c = static_cast<combo_data *>(entry_record(COMBO));
    GtkWidget *box = gtk_button_get_child(GTK_BUTTON(c->button));
    GtkWidget *first = gtk_widget_get_first_child(box);
    EXPECT_EQ(first, c->label) << "the text comes first";
    EXPECT_TRUE(GTK_IS_SEPARATOR(gtk_widget_get_next_sibling(first))) << "then the separator";
    EXPECT_TRUE(GTK_IS_IMAGE(gtk_widget_get_last_child(box))) << "then the arrow";

    cm()->current_focus = COMBO;
    gcombo_edit(cm(), COMBO, 0);
    ASSERT_TRUE(lumba_test::wait_drawn(c->list_view));
    GtkAdjustment *rows = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(c->scroller));
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_adjustment_get_upper(rows) > 0; }));
    EXPECT_GE(gtk_adjustment_get_page_size(rows), gtk_adjustment_get_upper(rows))
        << "all six items in sight without scrolling";
    save(drawn(c->popover), "combo_list.png");
    gcombo_popdown_menu(c);
}

TEST_F(LooksTest, TheTextViewWritesInTheFormsFont)
{
    ASSERT_EQ(form(every_kind_form()).abort, "");
    on_screen();
    auto font_size = [](GtkWidget *w) {
        const PangoFontDescription *d = pango_context_get_font_description(gtk_widget_get_pango_context(w));
        return pango_font_description_get_size(d);
    };
    GtkWidget *prompt = gtk_grid_get_child_at(GTK_GRID(handle_widget(static_cast<std::uintptr_t>(handle(Z)))), 0, 0);
    GtkWidget *view = field_widget(TEXT);
    EXPECT_EQ(font_size(view), font_size(prompt));
    EXPECT_EQ(font_size(entry_widget(INPUT)), font_size(prompt));
}

TEST_F(LooksTest, LabelAndTooltipTextsAreBounded)
{
    record.log_level_lumbas = 0;
    const std::string megabyte = str("abcdefghij") + num(100000) + sfn(in_IREPEAT, 2);
    const Outcome o = form(every_kind_form() + megabyte + num("0.0") + num(20) + fn(in_IGLABEL_SIMPLE_NEW, 3) + set(L) +
                           ref(CM) + str("entry") + num(1) + megabyte + st(in_IGPRINT, 4) + ref(CM) + num(INPUT) +
                           str("entry") + num(0L) + megabyte + st(in_IGTOOLTIP_SET, 5));
    ASSERT_EQ(o.abort, "");
    GtkWidget *simple = handle_widget(static_cast<std::uintptr_t>(handle(L)));
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(simple))).size(), OSKA_SHOWN_TEXT_MAX);
    auto *field = static_cast<clabel_data *>(entry_record(1));
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(field->label))).size(), OSKA_SHOWN_TEXT_MAX);
    const char *tip = gtk_widget_get_tooltip_text(entry_widget(INPUT));
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(std::string(tip).size(), OSKA_SHOWN_TEXT_MAX);
    const std::vector<std::string> lines = log_lines(o.err);
    const std::string label_cut = "label text of 1000000 bytes cut to 4096 bytes";
    const std::string tooltip_cut = "tooltip text of 1000000 bytes cut to 4096 bytes";
    EXPECT_EQ(std::count(lines.begin(), lines.end(), label_cut), 2) << o.err.substr(0, 2000);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), tooltip_cut), 1);
}

// A field entered by Tab has its whole text selected, so that the next key replaces it: under the
// site's sheet the selection shows in its own colour. So does a selection in a date and in the
// menu's selection entry (a text widget of the class "gmenu" here, as above).
TEST_F(LooksTest, SelectedTextShowsInTypedFields)
{
    const Rgba selection_colour{0x99, 0xc1, 0xf1, 0xff};
    ASSERT_EQ(form(window_form() + add_field(input(1, 0, 20, "s"), WIDGET_INPUT) +
                   add_field(input(2, 0, 20, "s"), WIDGET_INPUT) + add_field(date(3, 1), WIDGET_DATE))
                  .abort,
              "");
    GtkWidget *menu_entry = gtk_text_new();
    gtk_widget_add_css_class(menu_entry, "gmenu");
    gtk_box_append(GTK_BOX(handle_widget(static_cast<std::uintptr_t>(handle(Y)))), menu_entry);
    for (int i : {1, 2}) gtk_editable_set_text(GTK_EDITABLE(entry_widget(i)), "Lindqvist");
    gtk_editable_set_text(GTK_EDITABLE(entry_widget(3)), "01/02/2024");
    gtk_editable_set_text(GTK_EDITABLE(menu_entry), "3.2");
    cmat_set_focus_index(cm(), 1);
    cinvoke_pre_display(cm());
    on_screen();
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(entry_widget(1)); }));
    // The first field's selection goes before the Tab. A field left with its text selected gives up
    // the X PRIMARY selection in the same turn as the next field takes it, and GDK 4.8 can read the
    // late notice of that release as another client's claim and drop the new field's selection (one
    // run in ten with a few GUI tests in parallel): the engine's selection is what is checked here.
    gtk_editable_select_region(GTK_EDITABLE(entry_widget(1)), 9, 9);

    // Tab at the keyboard: the engine moves to the next field and selects its text.
    lumba_test::Xdotool(lumba_test::gui_display()).key({"Tab"});
    GtkWidget *tabbed = entry_widget(2);
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(tabbed); }));
    int from = 0, to = 0;
    ASSERT_TRUE(gtk_editable_get_selection_bounds(GTK_EDITABLE(tabbed), &from, &to));
    EXPECT_EQ(to - from, 9) << "the whole text";
    std::vector<lumba_test::Snapshot> pictures{drawn(tabbed)};

    for (GtkWidget *w : {entry_widget(3), menu_entry}) {
        gtk_widget_grab_focus(w);
        gtk_editable_select_region(GTK_EDITABLE(w), 0, -1);
        ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(w); }));
        pictures.push_back(drawn(w));
    }
    for (const lumba_test::Snapshot &p : pictures) {
        const std::size_t i = static_cast<std::size_t>(&p - pictures.data());
        // The selection's ground around the glyphs (three characters and more).
        EXPECT_GT(p.count(selection_colour), 60) << "field " << i;
        EXPECT_GT(p.dark_pixels(), 20) << "field " << i << ": the selected text itself shows";
    }
    save(lumba_test::Snapshot::side_by_side(pictures), "selected_text.png");
}

TEST_F(LooksTest, LongTextsKeepTheFormOnTheScreen)
{
    ASSERT_EQ(form(long_texts_form()).abort, "");
    on_screen();
    GdkRectangle screen{};
    gdk_monitor_get_geometry(gdk_display_get_monitor_at_surface(gtk_widget_get_display(cm()->window),
                                                                gtk_native_get_surface(GTK_NATIVE(cm()->window))),
                             &screen);
    const lumba_test::Snapshot picture = drawn(cm()->window);
    save(picture, "long_texts.png");
    EXPECT_LE(picture.width(), screen.width) << "the window within the screen";
    EXPECT_LE(picture.height(), screen.height);
    for (int index = 1; index <= static_cast<int>(long_texts.size()); ++index) {
        const char *prompt = long_texts[index - 1].prompt;
        SCOPED_TRACE(prompt);
        const graphene_rect_t r = bounds(field_widget(index));
        EXPECT_GE(r.origin.x, 0) << prompt;
        EXPECT_LE(r.origin.x + r.size.width, picture.width()) << prompt << ": within the window";
        EXPECT_GT(drawn(field_widget(index)).dark_pixels(), 20) << prompt << ": its text shows";
    }
    // The label field asks for no more than its 20 characters, and for less than its text: the
    // text is cut with an ellipsis, or wrapped, in the width it gets.
    auto *plain = static_cast<clabel_data *>(entry_record(LONG_LABEL));
    auto *wrapped = static_cast<clabel_data *>(entry_record(WRAPPED));
    EXPECT_TRUE(pango_layout_is_ellipsized(gtk_label_get_layout(GTK_LABEL(plain->label))));
    EXPECT_GT(gtk_widget_get_height(wrapped->label), 2 * gtk_widget_get_height(plain->label)) << "wrapped";
    for (GtkWidget *label : {plain->label, wrapped->label}) {
        int minimum = 0, natural = 0;
        gtk_widget_measure(label, GTK_ORIENTATION_HORIZONTAL, -1, &minimum, &natural, nullptr, nullptr);
        EXPECT_LT(natural, 20 * 12) << "about 20 characters wide";
        EXPECT_LE(minimum, natural);
    }
    // The amount's digits show at its right end.
    const lumba_test::Snapshot amount = drawn(entry_widget(AMOUNT));
    int right_ink = 0;
    for (int y = 0; y < amount.height(); ++y)
        for (int x = amount.width() / 2; x < amount.width(); ++x) {
            const Rgba c = amount.pixel(x, y);
            if (c.r < 96 && c.g < 96 && c.b < 96) ++right_ink;
        }
    EXPECT_GT(right_ink, 20) << "125.50 in sight";
    // Combo, radio, toggle and button texts end in an ellipsis within the field; the whole text is
    // the tooltip.
    struct Case {
        int index;
        const char *what;
    } cases[] = {{LONG_COMBO, "combo"}, {LONG_RADIO, "radio"}, {LONG_TOGGLE, "toggle"}, {LONG_BUTTON, "button"}};
    for (const Case &c : cases) {
        std::vector<GtkWidget *> labels;
        labels_in(field_widget(c.index), &labels);
        ASSERT_FALSE(labels.empty()) << c.what;
        for (GtkWidget *label : labels) {
            const std::string text = gtk_label_get_text(GTK_LABEL(label));
            if (text.size() < 80) continue;
            EXPECT_TRUE(pango_layout_is_ellipsized(gtk_label_get_layout(GTK_LABEL(label)))) << c.what;
            EXPECT_EQ(lumba_test::shown_tooltip(label), text) << c.what;
        }
    }
}

TEST_F(LooksTest, AFormWiderThanTheScreenScrollsInsideIt)
{
    // Radio items 3000 pixels wide each.
    const Field wide{ref(CM) + num(1) + num(3000) + fn(in_IGRADIO_NEW, 3) + set(D) + val(D) + str("One") +
                         st(in_IGCOMBO_TEXT_ADD, 2),
                     WIDGET_RADIO, "Radio"};
    ASSERT_EQ(form(grid_form({wide})).abort, "");
    on_screen();
    const lumba_test::Snapshot picture = drawn(cm()->window);
    EXPECT_LE(picture.width(), 1280) << "the window within the screen";
    GtkWidget *scrolled = gtk_widget_get_ancestor(field_widget(1), GTK_TYPE_SCROLLED_WINDOW);
    ASSERT_NE(scrolled, nullptr);
    GtkAdjustment *h = gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(scrolled));
    EXPECT_GE(gtk_adjustment_get_upper(h), 3000);
    EXPECT_LT(gtk_adjustment_get_page_size(h), gtk_adjustment_get_upper(h)) << "the rest is scrolled to";
}

TEST_F(LooksTest, AFormKeepsTheThemesMarginFontAndFocus)
{
    ASSERT_EQ(form(every_kind_form()).abort, "");
    on_screen();
    // A margin round the content: the first row keeps off the window's edges.
    GtkWidget *grid = handle_widget(static_cast<std::uintptr_t>(handle(Z)));
    const graphene_rect_t g = bounds(grid);
    EXPECT_GE(g.origin.x, 12);
    EXPECT_GE(g.origin.y, 12);
    // The theme's font size.
    GtkWidget *prompt = gtk_grid_get_child_at(GTK_GRID(grid), 0, 0);
    gchar *theme_font = nullptr;
    g_object_get(gtk_settings_get_default(), "gtk-font-name", &theme_font, nullptr);
    PangoFontDescription *theme = pango_font_description_from_string(theme_font);
    const PangoFontDescription *used = pango_context_get_font_description(gtk_widget_get_pango_context(prompt));
    // GTK hands the size on in pixels at the screen's resolution.
    int dpi = 0;
    g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &dpi, nullptr);
    const double resolution = dpi > 0 ? dpi / 1024.0 : 96.0;
    double expected = pango_font_description_get_size(theme);
    if (pango_font_description_get_size_is_absolute(used)) expected = expected * resolution / 72.0;
    EXPECT_NEAR(pango_font_description_get_size(used), expected, expected / 100) << theme_font;
    pango_font_description_free(theme);
    g_free(theme_font);
    // The combo's text from its start, as an entry's.
    auto *c = static_cast<combo_data *>(entry_record(COMBO));
    const lumba_test::Snapshot combo = drawn(c->button);
    int first_ink = combo.width();
    for (int y = 0; y < combo.height(); ++y)
        for (int x = 0; x < first_ink; ++x)
            if (const Rgba p = combo.pixel(x, y); p.r < 96 && p.g < 96 && p.b < 96) first_ink = x;
    EXPECT_LT(first_ink, 20) << "Yellow begins at the left";
    // A button with the keyboard: an outline in the selection colour, not the theme's faint line.
    GtkWidget *button = entry_widget(10);
    gtk_window_set_focus_visible(GTK_WINDOW(cm()->window), TRUE);
    gtk_widget_grab_focus(button);
    ASSERT_TRUE(lumba_test::wait_until([&] { return gtk_widget_has_focus(button); }));
    GdkRGBA selected{};
    ASSERT_TRUE(gtk_style_context_lookup_color(gtk_widget_get_style_context(button), "theme_selected_bg_color", &selected));
    const Rgba ring{static_cast<std::uint8_t>(selected.red * 255), static_cast<std::uint8_t>(selected.green * 255),
                    static_cast<std::uint8_t>(selected.blue * 255), 255};
    // The theme eases the outline in: wait for it to settle.
    lumba_test::Snapshot focused;
    const bool ringed = lumba_test::wait_until([&] {
        focused = drawn(button);
        return focused.count(ring, 40) >= focused.width() + focused.height();
    });
    save(focused, "focused_button.png");
    EXPECT_TRUE(ringed) << "an outline all round: " << focused.count(ring, 40) << " pixels of the ring's colour";
}
