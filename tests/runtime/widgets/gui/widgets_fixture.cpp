#include "widgets_fixture.h"

#include "aoae.h"
#include "cases.h"
#include "gmisc.h"
#include "gui_env.h"
#include "test_intrinsics.h"

using namespace forms_test;

namespace {

TestRecord *record(const void *r) { return static_cast<TestRecord *>(const_cast<void *>(r)); }

// A field record made by the construction pattern, with its widgets.
TestRecord *construct(int nargs, int last, int kind, bool refuse_twice)
{
    const FieldRecord made =
        gfield_make_record(nargs, last, kind, setup_code(kind), sizeof(TestRecord), "No Process Control Matrix found",
                           refuse_twice ? "An attempt was made to create a check box twice for Index %d" : nullptr);
    auto *r = static_cast<TestRecord *>(made.record);
    r->index = made.index;
    const bool text = kind == CM_FIELD_TYPE_GINPUT || kind == CM_FIELD_TYPE_GDATE;
    r->widget = keep(kind == CM_FIELD_TYPE_GTEXT ? gtk_text_view_new() : text ? gtk_text_new() : gtk_button_new());
    r->label = keep(gtk_label_new("D"));
    gfield_connect(r->widget, "test-button", "test");
    return r;
}

void record_new(int nargs, int last, Stack *result)
{
    const int kind = intr::integer(intr::arg(nargs, last, 2));
    const bool twice = nargs > 3 && intr::integer(intr::arg(nargs, last, 3));
    give(result, construct(nargs, last, kind, twice));
}
void input_new(int nargs, int last, Stack *result) { give(result, construct(nargs, last, CM_FIELD_TYPE_GINPUT, false)->widget); }
void date_new(int nargs, int last, Stack *result) { give(result, construct(nargs, last, CM_FIELD_TYPE_GDATE, false)->widget); }
void label_new(int nargs, int last, Stack *result)
{
    give(result, keep(gtk_label_new(std::string(intr::text(intr::arg(nargs, last, 0))).c_str())));
}
void button_new(int, int, Stack *result) { give(result, keep(gtk_button_new_with_label("B"))); }

const auto *constructors = lumba_test::add_test_intrinsics({.numeric = {
                                                                {in_IGCOMBO_NEW, record_new},
                                                                {in_IGINPUT_NEW, input_new},
                                                                {in_IGDATE_NEW, date_new},
                                                                {in_IGLABEL_SIMPLE_NEW, label_new},
                                                                {in_IGBUTTON_NEW, button_new},
                                                            }});

} // namespace

namespace widgets_test {

std::vector<std::string> &calls()
{
    static std::vector<std::string> v;
    return v;
}

std::map<const void *, std::string> &formats()
{
    static std::map<const void *, std::string> m;
    return m;
}

std::map<const void *, int> &lengths()
{
    static std::map<const void *, int> m;
    return m;
}

} // namespace widgets_test

namespace {

using widgets_test::calls;

GtkWidget *outer(const void *r) { return record(r)->widget; }
GtkWidget *label_of(const void *r) { return record(r)->label; }
void destroy(void *r)
{
    calls().push_back("destroy");
    oska_widget_destroy(record(r)->widget);
}
void set_name(void *r, const char *name) { gtk_widget_set_name(record(r)->widget, name); }
const char *format(const void *r)
{
    auto it = widgets_test::formats().find(r);
    return it == widgets_test::formats().end() ? "" : it->second.c_str();
}
int max_length(const void *r)
{
    auto it = widgets_test::lengths().find(r);
    return it == widgets_test::lengths().end() ? 0 : it->second;
}
void write_text(const char *what, GtkWidget *widget, const char *text)
{
    calls().push_back(std::string("write ") + what + " " + text);
    if (GTK_IS_TEXT(widget)) gtk_editable_set_text(GTK_EDITABLE(widget), text);
}
std::string display_text(const void *, const char *text) { return std::string("display(") + text + ")"; }
std::string format_numeric(const char *number, const char *fmt, int width)
{
    return "fmt(" + std::string(number) + "," + fmt + "," + std::to_string(width) + ")";
}

FieldKindHooks test_kind(int kind)
{
    FieldKindHooks h{outer, outer, label_of, destroy, set_name, format, max_length, nullptr, nullptr, nullptr};
    switch (kind) {
    case CM_FIELD_TYPE_GINPUT:
        h.write_text = [](void *, GtkWidget *w, const char *t) { write_text("input", w, t); };
        h.format_numeric = format_numeric;
        break;
    case CM_FIELD_TYPE_GDATE:
        h.write_text = [](void *, GtkWidget *w, const char *t) { write_text("date", w, t); };
        h.display_text = display_text;
        break;
    case CM_FIELD_TYPE_GTEXT:
        h.text = outer;
        h.write_text = [](void *r, GtkWidget *w, const char *t) {
            write_text(r ? "text record" : "text", w, t);
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(w)), t, -1);
        };
        break;
    default: break;
    }
    return h;
}

} // namespace

void WidgetsTest::SetUp()
{
    FormsTest::SetUp();
    aoae_set_oae_geometry_abcd();  // the launch values: 1010 x 630 on the test's monitor
    for (int kind = 1; kind <= CM_FIELD_TYPE_GMAX; ++kind) saved_kinds[kind] = register_field_kind(kind, test_kind(kind));
    calls().clear();
    widgets_test::formats().clear();
    widgets_test::lengths().clear();
}

void WidgetsTest::TearDown()
{
    FormsTest::TearDown();
    for (int kind = 1; kind <= CM_FIELD_TYPE_GMAX; ++kind) register_field_kind(kind, saved_kinds[kind]);
}

std::vector<GtkWindow *> WidgetsTest::toplevels()
{
    std::vector<GtkWindow *> v;
    GListModel *windows = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(windows); ++i) {
        auto *w = static_cast<GtkWindow *>(g_list_model_get_item(windows, i));
        v.push_back(w);
        g_object_unref(w);
    }
    return v;
}

lumba_test::Snapshot WidgetsTest::drawn(GtkWidget *widget)
{
    EXPECT_TRUE(lumba_test::wait_drawn(widget));
    return lumba_test::snapshot(widget);
}
