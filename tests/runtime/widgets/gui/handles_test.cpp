// The widget handle in-process: every intrinsic refuses numbers that name nothing issued (made up,
// small, or of a widget or record gone since); removing, naming and finding the parent of widgets;
// separators; opening a URI; the construction pattern of field constructors; and the GTK support
// layer the widgets, notes and documents share.
#include <fstream>

#include "cattach.h"
#include "ccallback.h"
#include "cmatrix.h"
#include "gmisc.h"
#include "gui_env.h"
#include "widgets_fixture.h"

using namespace forms_test;
using namespace widgets_test;
using lumba_test::Rgba;

namespace {

GtkWidget *widget_at(long handle) { return reinterpret_cast<GtkWidget *>(handle); }

const std::string form_box = window_of("a", W) + attach(CM, W) + val(W) + fn(in_IGVBOX_NEW, 1) + set(Y);

std::string label_into(Numeric v) { return str("L") + fn(in_IGLABEL_SIMPLE_NEW, 1) + set(v); }

GtkEventController *controller_named(GtkWidget *w, const char *name)
{
    GListModel *list = gtk_widget_observe_controllers(w);
    GtkEventController *found = nullptr;
    for (guint i = 0; i < g_list_model_get_n_items(list) && !found; ++i) {
        auto *c = static_cast<GtkEventController *>(g_list_model_get_item(list, i));
        if (g_strcmp0(gtk_event_controller_get_name(c), name) == 0) found = c;
        g_object_unref(c);
    }
    g_object_unref(list);
    return found;
}

} // namespace

TEST_F(WidgetsTest, NumbersThatNameNothingIssuedAreRefused)
{
    // Numbers that name nothing: made up, small (the first int of no record), a window destroyed
    // and a field record freed with its row.
    ASSERT_EQ(form(window_of("a", W) + attach(CM, W) + ref(CM) + num(1) + num(CM_FIELD_TYPE_GLABEL) +
                   fn(in_IGCOMBO_NEW, 3) + set(X) + [] {
                       Add a;
                       a.entry = val(X);
                       return a.text();
                   }() + val(CM) + num(1) + st(in_ICREMOVE, 2) + window_of("b", E))
                  .abort,
              "");
    const long freed_record = handle(X);
    gtk_window_destroy(GTK_WINDOW(widget_at(handle(E))));
    const long destroyed_window = handle(E);
    const std::vector<long> numbers = {123456789, 5, 999, freed_record, destroyed_window};
    for (long n : numbers) {
        const std::string h = num(n);
        const std::string expected = "Invalid widget handle " + hex(reinterpret_cast<void *>(n));
        const std::string calls[] = {
            h + num(1) + fn(in_IGHBOX_NEW, 2) + set(Z),
            h + num(1) + fn(in_IGVBOX_NEW, 2) + set(Z),
            h + fn(in_IGVBOX_NEW, 1) + set(Z),
            h + fn(in_IGSCROLLABLE_NEW, 1) + set(Z),
            h + num(1) + num(1) + num(0L) + num(0L) + fn(in_IGTABLE_NEW, 5) + set(Z),
            h + num(0L) + fn(in_IGTABLE_ADD_ROW, 2) + set(Z),
            h + num(0L) + fn(in_IGTABLE_DELETE_ROW, 2) + set(Z),
            h + h + num(0L) + num(1) + num(0L) + num(1) + num(0L) + num(0L) + num(0L) + num(0L) + st(in_IGTABLE_ATTACH, 10),
            h + h + ref(X) + ref(Y) + st(in_IGTABLE_GET_CELL, 4),
            h + h + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + st(in_IGHBOX_PACK, 9),
            h + h + st(in_IGSIZE_GROUP_ADD, 2),
            h + st(in_IGSIZE_GROUP_FINALISE, 1),
            h + st(in_IGDELETE_WIDGET, 1),
            h + str("n") + st(in_IGWIDGET_SET_NAME, 2),
            h + fn(in_IGWGET_PARENT, 1) + set(Z),
            h + st(in_IGSHOW, 1),
            h + st(in_IGHIDE, 1),
            h + st(in_IGWSIMPLESHOW, 1),
            h + str("t") + st(in_IGPRINT_TITLE, 2),
            h + num(0L) + num(1) + st(in_IGWINDOW_MOVE, 3),
        };
        for (const std::string &call : calls) EXPECT_EQ(form(call).abort, expected) << call;
    }
}

TEST_F(WidgetsTest, DeletingWidgetsAndRecords)
{
    const std::string body = form_box + val(Y) + num(0L) + fn(in_IGHBOX_NEW, 2) + set(E) + fn(in_IGHBOX_NEW_OTHER, 0) +
                             set(E2) + ref(CM) + num(1) + num(CM_FIELD_TYPE_GLABEL) + fn(in_IGCOMBO_NEW, 3) + set(X) +
                             [] {
                                 Add a;
                                 a.entry = val(X);
                                 a.type = num(WIDGET_LABEL);
                                 return a.text();
                             }() + ref(CM) + num(2) + num(CM_FIELD_TYPE_GINPUT) + fn(in_IGCOMBO_NEW, 3) + set(D) +
                             val(Y) + val(X) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) +
                             st(in_IGHBOX_PACK, 9);
    ASSERT_EQ(form(body).abort, "");
    const long box = handle(E), loose = handle(E2), listed = handle(X), input = handle(D), window = handle(W);
    ControlMatrix_t *cm = cm_of(CM);
    GtkWidget *listed_widget = static_cast<TestRecord *>(reinterpret_cast<void *>(listed))->widget;
    ASSERT_EQ(gtk_widget_get_parent(listed_widget), widget_at(handle(Y)));
    lumba_test::mail_reports().clear();
    calls().clear();
    ASSERT_EQ(form(num(box) + st(in_IGDELETE_WIDGET, 1) + num(loose) + st(in_IGDELETE_WIDGET, 1) + num(listed) +
                   st(in_IGDELETE_WIDGET, 1) + num(input) + st(in_IGDELETE_WIDGET, 1) + num(0L) + st(in_IGDELETE_WIDGET, 1))
                  .abort,
              "");
    EXPECT_EQ(handle_widget(box), nullptr) << "removed from its box and gone";
    EXPECT_EQ(handle_widget(loose), nullptr) << "never placed: the program's reference dropped";
    // A record still listed in the field table: reported, removed all the same; an input record
    // (entered by its GtkText) is left alone.
    EXPECT_EQ(calls(), std::vector<std::string>{"destroy"});
    EXPECT_EQ(gtk_widget_get_parent(listed_widget), nullptr) << "its kind removed its widget";
    ASSERT_EQ(lumba_test::mail_reports().size(), 1u);
    EXPECT_NE(lumba_test::mail_reports()[0].text.find("delete widget in cm! Field: F. Perhaps appropriate index should be "
                                                      "deleted from cm first with icremove()"),
              std::string::npos)
        << lumba_test::mail_reports()[0].text;
    EXPECT_EQ(cm->field_count, 1) << "the field stays in the table";
    EXPECT_EQ(form(num(window) + st(in_IGDELETE_WIDGET, 1)).abort, "igdelete_widget is depricated for windows");
}

TEST_F(WidgetsTest, NamingWidgetsGivesThemTheirStyle)
{
    const std::string body = form_box + val(Y) + num(1) + fn(in_IGHBOX_NEW, 2) + set(E) + label_into(L) + val(E) +
                             val(L) + num(0L) + num(0L) + num(20) + num(20) + num(0L) + num(0L) + num(0L) +
                             st(in_IGHBOX_PACK, 9) + val(E) + str("loud") +
                             st(in_IGWIDGET_SET_NAME, 2) + ref(CM) + num(1) + num(CM_FIELD_TYPE_GCHECKBOX) +
                             fn(in_IGCOMBO_NEW, 3) + set(X) + val(X) + str("ticked") + st(in_IGWIDGET_SET_NAME, 2) +
                             ref(CM) + num(2) + num(CM_FIELD_TYPE_GINPUT) + fn(in_IGCOMBO_NEW, 3) + set(D) + val(D) +
                             str("ignored") + st(in_IGWIDGET_SET_NAME, 2);
    ASSERT_EQ(form(body).abort, "");
    GtkWidget *box = widget_at(handle(E));
    EXPECT_STREQ(gtk_widget_get_name(box), "loud");
    EXPECT_STREQ(gtk_widget_get_name(static_cast<TestRecord *>(reinterpret_cast<void *>(handle(X)))->widget), "ticked");
    EXPECT_STRNE(gtk_widget_get_name(static_cast<TestRecord *>(reinterpret_cast<void *>(handle(D)))->widget), "ignored");
    // The fixture style sheet colours #loud.
    EXPECT_EQ(drawn(box).pixel(2, 2), (Rgba{0, 255, 255, 255}));
    EXPECT_EQ(form(num(0L) + str("x") + st(in_IGWIDGET_SET_NAME, 2)).abort, "No widget passed to igwidget_set_name");
    // A kind that has not given its row yet.
    const FieldKindHooks row = register_field_kind(CM_FIELD_TYPE_GCHECKBOX, FieldKindHooks{});
    const Outcome o = form(window_of("a", W) + attach(CM, W) + ref(CM) + num(1) + num(CM_FIELD_TYPE_GCHECKBOX) +
                           fn(in_IGCOMBO_NEW, 3) + set(X) + val(X) + str("n") + st(in_IGWIDGET_SET_NAME, 2));
    register_field_kind(CM_FIELD_TYPE_GCHECKBOX, row);
    EXPECT_EQ(o.abort, "Check Box fields not available");
}

TEST_F(WidgetsTest, SeparatorsAndParents)
{
    const std::string body = form_box + fn(in_IGHSEPARATOR_NEW, 0) + set(E) + fn(in_IGVSEPARATOR_NEW, 0) + set(E2) +
                             val(Y) + fn(in_IGWGET_PARENT, 1) + set(X) + val(W) + fn(in_IGWGET_PARENT, 1) + set(Z);
    ASSERT_EQ(form(body).abort, "");
    struct Case {
        Numeric v;
        GtkOrientation orientation;
    } cases[] = {{E, GTK_ORIENTATION_HORIZONTAL}, {E2, GTK_ORIENTATION_VERTICAL}};
    for (const Case &c : cases) {
        GtkWidget *s = widget_at(handle(c.v));
        ASSERT_TRUE(GTK_IS_SEPARATOR(s));
        EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(s)), c.orientation);
        EXPECT_TRUE(gtk_widget_get_visible(s));
        g_object_ref_sink(s);
        g_object_unref(s);
    }
    EXPECT_EQ(handle(X), handle(W)) << "the content box's parent is the window";
    EXPECT_TRUE(handle_widget(handle(X))) << "handed out as a handle";
    EXPECT_EQ(handle(Z), 0) << "a top-level widget has no parent";
    const Outcome record = form(form_box + ref(CM) + num(1) + num(CM_FIELD_TYPE_GLABEL) + fn(in_IGCOMBO_NEW, 3) + set(X) +
                                val(X) + fn(in_IGWGET_PARENT, 1) + set(Z));
    EXPECT_EQ(record.abort, "Invalid widget handle " + hex(reinterpret_cast<void *>(handle(X))));
}

TEST_F(WidgetsTest, ShowUriOpensItForTheUser)
{
    // A handler of the scheme "lumbatest" that records the URI it was given.
    const std::string home = g_get_home_dir(), seen = home + "/uri-seen";
    g_mkdir_with_parents((home + "/.local/share/applications").c_str(), 0755);
    g_mkdir_with_parents((home + "/.config").c_str(), 0755);
    std::ofstream(home + "/.local/share/applications/lumba-uri.desktop")
        << "[Desktop Entry]\nType=Application\nName=lumba uri\nExec=/bin/sh -c 'printf %%s \"$1\" > " << seen
        << "' sh %u\nMimeType=x-scheme-handler/lumbatest;\nNoDisplay=true\n";
    std::ofstream(home + "/.config/mimeapps.list") << "[Default Applications]\nx-scheme-handler/lumbatest=lumba-uri.desktop\n";
    const auto uri_seen = [&] {
        std::ifstream in(seen);
        std::string s;
        std::getline(in, s);
        return s;
    };
    // Only the windowless menu: nothing to show it on.
    ControlMatrix_t *menu = cset_new(global_data, CM_WINDOWLESS, 0);
    menu->type = CM_WT_MENU;
    ASSERT_EQ(form(str("lumbatest:first") + st(in_ISHOW_URI, 1)).abort, "");
    cmat_free_all();
    // A form's window: GTK hands it to the handler.
    ASSERT_EQ(form(window_of("a", W) + attach(CM, W) + str("lumbatest:second") + st(in_ISHOW_URI, 1)).abort, "");
    EXPECT_TRUE(lumba_test::wait_until([&] { return uri_seen() == "lumbatest:second"; }, 15000)) << uri_seen();
    EXPECT_EQ(form(st(in_ISHOW_URI, 0)).abort, "Invalid number of parameters");
}

TEST_F(WidgetsTest, ConstructionPattern)
{
    const std::string make = ref(CM) + num(3) + num(CM_FIELD_TYPE_GCHECKBOX) + num(1) + fn(in_IGCOMBO_NEW, 4) + set(X);
    ASSERT_EQ(form(window_of("a", W) + attach(CM, W) + make).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    auto *record = static_cast<TestRecord *>(reinterpret_cast<void *>(handle(X)));
    EXPECT_EQ(record->kind, CM_FIELD_TYPE_GCHECKBOX) << "its kind first";
    EXPECT_EQ(record->index, 3);
    SubControlMatrix_t *scm = cmat_get_scm(cm, 3, AC_CHECKBOX_SETUP);
    ASSERT_NE(scm, nullptr);
    EXPECT_EQ(scm->setup, record) << "hung on the record for (index, internal code)";
    EXPECT_EQ(scm->routine, nullptr);
    EXPECT_EQ(handle_record(handle(X)), record) << "an issued handle";
    // The focusable widget: a click gesture for any button, exclusive, and a key controller in the
    // capture phase, both to the forms engine's handlers.
    auto *click = GTK_GESTURE_SINGLE(controller_named(record->widget, "test-button"));
    ASSERT_NE(click, nullptr);
    EXPECT_TRUE(GTK_IS_GESTURE_CLICK(click));
    EXPECT_EQ(gtk_gesture_single_get_button(click), 0u);
    EXPECT_TRUE(gtk_gesture_single_get_exclusive(click));
    GtkEventController *keys = controller_named(record->widget, "test");
    ASSERT_NE(keys, nullptr);
    EXPECT_TRUE(GTK_IS_EVENT_CONTROLLER_KEY(keys));
    EXPECT_EQ(gtk_event_controller_get_propagation_phase(keys), GTK_PHASE_CAPTURE);
    gboolean handled = FALSE;
    g_signal_emit_by_name(keys, "key-pressed", GDK_KEY_a, 38u, GdkModifierType(0), &handled);
    EXPECT_EQ(lumba_test::abort_text([] { forms_rethrow_kept(); }), "");
    EXPECT_FALSE(handled) << "the dispatcher ran: a key on a widget that is no field's goes on to GTK";
    // The click reached the forms engine, which finds no form for a widget in no window.
    g_signal_emit_by_name(click, "pressed", 1, 5.0, 5.0);
    EXPECT_EQ(lumba_test::abort_text([] { forms_rethrow_kept(); }), "Widget not found in the Process Control Matrix (k)");
    // A second record for the same index is refused by the kinds that refuse one; no CM: the kind's
    // message.
    ASSERT_EQ(form(window_of("a", W) + attach(CM, W) + make + make).abort,
              "An attempt was made to create a check box twice for Index 3");
    EXPECT_EQ(form(num(0L) + num(3) + num(CM_FIELD_TYPE_GCHECKBOX) + fn(in_IGCOMBO_NEW, 3) + set(X)).abort,
              "No Process Control Matrix found");
}

TEST_F(WidgetsTest, BoxHelpersAlignAlongTheBoxsOwnAxis)
{
    struct Case {
        GtkOrientation orientation;
        void (*pack)(GtkWidget *, GtkWidget *, int, int, int);
        int fill;
        GtkAlign along;
        bool first;
    } cases[] = {
        {GTK_ORIENTATION_VERTICAL, oska_box_append, 0, GTK_ALIGN_START, false},
        {GTK_ORIENTATION_VERTICAL, oska_box_append, 1, GTK_ALIGN_FILL, false},
        {GTK_ORIENTATION_VERTICAL, oska_box_append_end, 0, GTK_ALIGN_END, false},
        {GTK_ORIENTATION_VERTICAL, oska_box_prepend, 0, GTK_ALIGN_START, true},
        {GTK_ORIENTATION_HORIZONTAL, oska_box_append, 0, GTK_ALIGN_START, false},
        {GTK_ORIENTATION_HORIZONTAL, oska_box_append_end, 0, GTK_ALIGN_END, false},
        {GTK_ORIENTATION_HORIZONTAL, oska_box_prepend, 1, GTK_ALIGN_FILL, true},
    };
    for (const Case &c : cases) {
        GtkWidget *box = keep(gtk_box_new(c.orientation, 0));
        gtk_box_append(GTK_BOX(box), gtk_label_new("before"));
        GtkWidget *child = gtk_label_new("child");
        gtk_widget_set_halign(child, GTK_ALIGN_CENTER);
        gtk_widget_set_valign(child, GTK_ALIGN_CENTER);
        c.pack(box, child, 1, c.fill, 7);
        const bool vertical = c.orientation == GTK_ORIENTATION_VERTICAL;
        EXPECT_EQ(vertical ? gtk_widget_get_valign(child) : gtk_widget_get_halign(child), c.along);
        EXPECT_EQ(vertical ? gtk_widget_get_halign(child) : gtk_widget_get_valign(child), GTK_ALIGN_CENTER)
            << "the cross axis is left alone";
        EXPECT_TRUE(gtk_widget_get_hexpand(child));
        EXPECT_TRUE(gtk_widget_get_vexpand(child));
        EXPECT_EQ(gtk_widget_get_margin_start(child), 7);
        EXPECT_EQ(gtk_widget_get_margin_bottom(child), 7);
        EXPECT_EQ(c.first ? gtk_widget_get_first_child(box) : gtk_widget_get_last_child(box), child);
    }
    GtkWidget *grid = keep(gtk_grid_new());
    EXPECT_EQ(lumba_test::abort_text([&] { oska_container_add(grid, gtk_label_new("x")); }),
              "oska_container_add call with parent not of box or window type");
}

TEST_F(WidgetsTest, RemovingAWidgetFromWhatHoldsIt)
{
    GtkWidget *fixed = keep(gtk_fixed_new()), *grid = keep(gtk_grid_new()), *viewport = keep(gtk_viewport_new(nullptr, nullptr));
    GtkWidget *in_fixed = gtk_label_new("f"), *in_grid = gtk_label_new("g"), *in_viewport = gtk_label_new("v");
    gtk_fixed_put(GTK_FIXED(fixed), in_fixed, 0, 0);
    gtk_grid_attach(GTK_GRID(grid), in_grid, 0, 0, 1, 1);
    gtk_viewport_set_child(GTK_VIEWPORT(viewport), in_viewport);
    for (GtkWidget *w : {in_fixed, in_grid, in_viewport}) oska_widget_destroy(w);
    EXPECT_EQ(gtk_widget_get_first_child(fixed), nullptr);
    EXPECT_EQ(gtk_widget_get_first_child(grid), nullptr);
    EXPECT_EQ(gtk_viewport_get_child(GTK_VIEWPORT(viewport)), nullptr);
    GtkWidget *frame = keep(gtk_frame_new(nullptr));
    GtkWidget *framed = gtk_label_new("x");
    gtk_frame_set_child(GTK_FRAME(frame), framed);
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "oska_widget_destroy call on widget GtkLabel %p with parent GtkFrame %p not of box or fixed type",
                  static_cast<void *>(framed), static_cast<void *>(frame));
    EXPECT_EQ(lumba_test::abort_text([&] { oska_widget_destroy(framed); }), expected);
}

TEST_F(WidgetsTest, ActivatingAWindowsFocusWidget)
{
    GtkWidget *window = gtk_window_new();
    GtkWidget *button = gtk_button_new_with_label("Go");
    gtk_window_set_child(GTK_WINDOW(window), button);
    static int clicked;
    clicked = 0;
    g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton *, gpointer) { ++clicked; }), nullptr);
    gtk_window_present(GTK_WINDOW(window));
    ASSERT_TRUE(lumba_test::wait_drawn(button));
    gtk_window_set_focus(GTK_WINDOW(window), button);
    EXPECT_TRUE(oska_window_activate_focus(window));
    EXPECT_TRUE(lumba_test::wait_until([] { return clicked == 1; }));
    gtk_widget_set_sensitive(button, FALSE);
    EXPECT_FALSE(oska_window_activate_focus(window));
    // A non-window: GLib's check failure, logged.
    static std::string logged;
    logged.clear();
    const guint id = g_log_set_handler(nullptr, G_LOG_LEVEL_CRITICAL, +[](const gchar *, GLogLevelFlags, const gchar *m, gpointer) {
        logged = m;
    }, nullptr);
    EXPECT_FALSE(oska_window_activate_focus(button));
    g_log_remove_handler(nullptr, id);
    EXPECT_EQ(logged, "oska_window_activate_focus: assertion 'GTK_IS_WINDOW (window)' failed");
    EXPECT_EQ(oska_widget_get_window(button), window);
    EXPECT_EQ(oska_widget_get_toplevel(button), window);
    GtkWidget *alone = keep(gtk_label_new("alone"));
    EXPECT_EQ(oska_widget_get_window(alone), nullptr);
    EXPECT_EQ(oska_widget_get_toplevel(alone), alone);
}

TEST_F(WidgetsTest, ListViewScrollsToItsSelectionAndFocusesIt)
{
    GtkStringList *rows = gtk_string_list_new(nullptr);
    for (int i = 0; i < 300; ++i) gtk_string_list_append(rows, ("row " + std::to_string(i)).c_str());
    GtkSingleSelection *selection = gtk_single_selection_new(G_LIST_MODEL(rows));
    GtkListItemFactory *factory = gtk_signal_list_item_factory_new();
    g_signal_connect(factory, "setup", G_CALLBACK(+[](GtkListItemFactory *, GtkListItem *item, gpointer) {
        gtk_list_item_set_child(item, gtk_label_new(""));
    }), nullptr);
    g_signal_connect(factory, "bind", G_CALLBACK(+[](GtkListItemFactory *, GtkListItem *item, gpointer) {
        auto *text = GTK_STRING_OBJECT(gtk_list_item_get_item(item));
        gtk_label_set_text(GTK_LABEL(gtk_list_item_get_child(item)), gtk_string_object_get_string(text));
    }), nullptr);
    GtkWidget *view = gtk_list_view_new(GTK_SELECTION_MODEL(selection), factory);
    GtkWidget *scrolled = gtk_scrolled_window_new();
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), view);
    GtkWidget *window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 200, 150);
    gtk_window_set_child(GTK_WINDOW(window), scrolled);
    gtk_window_present(GTK_WINDOW(window));
    ASSERT_TRUE(lumba_test::wait_drawn(view));
    gtk_single_selection_set_selected(selection, 250);
    oska_listview_scroll_to_single_selected(GTK_LIST_VIEW(view));
    oska_listview_scroll_to_single_selected(GTK_LIST_VIEW(view));  // scheduled once
    const auto focused_text = [&] {
        GtkWidget *focus = gtk_window_get_focus(GTK_WINDOW(window));
        GtkWidget *label = focus ? gtk_widget_get_first_child(focus) : nullptr;
        return label && GTK_IS_LABEL(label) ? std::string(gtk_label_get_text(GTK_LABEL(label))) : std::string();
    };
    EXPECT_TRUE(lumba_test::wait_until([&] { return focused_text() == "row 250"; })) << focused_text();
    // The focused row is within the part of the list that shows.
    GtkWidget *row = gtk_window_get_focus(GTK_WINDOW(window));
    double x = 0, y = -1;
    ASSERT_TRUE(gtk_widget_translate_coordinates(row, scrolled, 0, 0, &x, &y));
    EXPECT_GE(y, 0);
    EXPECT_LT(y, gtk_widget_get_height(scrolled));
}
