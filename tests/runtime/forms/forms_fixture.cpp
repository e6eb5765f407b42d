#include "forms_fixture.h"

#include <cstdio>
#include <cstring>
#include <regex>

#include "cases.h"
#include "gui_env.h"
#include "hooks.h"

namespace forms_test {
namespace {

std::vector<GObject *> &owned_widgets()
{
    static std::vector<GObject *> v;
    return v;
}

// The rows of the test kinds.
const TestRecord *rec(const void *r) { return static_cast<const TestRecord *>(r); }
int owns(const void *r, const GtkWidget *w) { return rec(r)->widget == w; }
GtkWidget *principal(const void *r) { return rec(r)->widget; }
int *own_index(void *r) { return &static_cast<TestRecord *>(r)->index; }
void set_sensitive(ControlMatrix_t *, int, void *r, int sensitive, int)
{
    gtk_widget_set_sensitive(rec(r)->widget, sensitive != 0);
}
GtkWidget *label_of(const void *r) { return rec(r)->label; }

RecordKindHooks test_row(int kind)
{
    const bool keeps_index = kind == CM_FIELD_TYPE_GNOTE || kind == CM_FIELD_TYPE_GLABEL ||
                             kind == CM_FIELD_TYPE_GIMAGE || kind == CM_FIELD_TYPE_GTEXT;
    return {nullptr, owns, principal, keeps_index ? own_index : nullptr, set_sensitive, label_of, nullptr};
}

RecordKindHooks saved_rows[CM_FIELD_TYPE_GMAX + 1];
WindowHooks saved_windows;
std::vector<std::string> *shown;

void capture(const char *text, const char *) { shown->push_back(text); }

const char *const numeric_names[] = {"CM", "W", "E", "R", "IP", "X", "L", "D", "CM2", "E2", "Y", "INDEXZ"};

std::string main_symbols()
{
    std::string t = "__ROUTINE__ main " + std::to_string(NUMERICS + 2) + "\n";
    for (int i = 0; i < NUMERICS; ++i)
        t += std::string(numeric_names[i]) + " 0 0 0x12 " + std::to_string(i) + " " + std::to_string(i + 1) + " -\n";
    t += "IP$ 40 0 0x14 0 " + std::to_string(NUMERICS + 1) + " -\n";
    t += "T$ 40 0 0x14 40 " + std::to_string(NUMERICS + 2) + " -\n";
    return t + "__END_ROUTINE__\n";
}

} // namespace

GtkWidget *keep(GtkWidget *w)
{
    g_object_ref_sink(w);
    owned_widgets().push_back(G_OBJECT(w));
    handle_issue_widget(w);
    return w;
}

void give(Stack *result, const void *p) { intr::set_number(result, static_cast<long>(reinterpret_cast<std::uintptr_t>(p))); }

int setup_code(int kind)
{
    switch (kind) {
    case CM_FIELD_TYPE_GINPUT: return AC_INPUT_SETUP;
    case CM_FIELD_TYPE_GNOTE: return AC_NOTE_SETUP;
    case CM_FIELD_TYPE_GCOMBO: return AC_COMBO_SETUP;
    case CM_FIELD_TYPE_GCHECKBOX: return AC_CHECKBOX_SETUP;
    case CM_FIELD_TYPE_GLABEL: return AC_LABEL_SETUP;
    case CM_FIELD_TYPE_GIMAGE: return AC_IMAGE_SETUP;
    case CM_FIELD_TYPE_GTOGGLE_BUTTON: return AC_TOGGLE_SETUP;
    case CM_FIELD_TYPE_GRADIO_BUTTON: return AC_RADIO_SETUP;
    case CM_FIELD_TYPE_GDATE: return AC_DATE_SETUP;
    case CM_FIELD_TYPE_GTEXT: return AC_TEXT_SETUP;
    default: return 100 + kind;
    }
}

std::string ref(Numeric v) { return "loadrad I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string val(Numeric v) { return "loadrvd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string set(Numeric v) { return "storrd I:" + std::to_string(v) + " I:1 I:0 I:0 I:0\n"; }
std::string sref(Text v) { return "loadsad I:" + std::to_string(v) + " I:1 I:40 I:0 I:0 I:0 I:0 I:0\n"; }
std::string sset(Text v) { return "storsd I:" + std::to_string(v) + " I:1 I:40 I:0 I:0 I:0 I:0 I:0\n"; }
std::string window_into(Numeric v) { return fn(in_IGWIN_NEW, 0) + set(v); }
std::string window_of(const std::string &type, Numeric v) { return str(type) + fn(in_IGWIN_NEW, 1) + set(v); }
std::string attach(Numeric cm, Numeric w) { return ref(cm) + val(w) + st(in_ICATTACH_WINDOW, 2); }
std::string number(const void *p) { return num(static_cast<long>(reinterpret_cast<std::uintptr_t>(p))); }
std::string hex(const void *p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)));
    return text;
}

std::string Add::text() const
{
    return cm + index + name + prompt + label + entry + description + tab + enabled + type + valid + fn(in_ICADD, 11) +
           set(R);
}

// Parameters: numeric 0x8012, text 0x8014.
const std::string standard_routines = ".proc r:post I:0 I:0 I:0 I:0 I:0 I:4\nexit\n"
                             ".proc r:plain I:0 I:0 I:0 I:0 I:0 I:2\nexit\n"
                             ".proc r:texts I:0 I:0 I:0 I:0 I:0 I:4\nexit\n";

} // namespace forms_test

using namespace forms_test;

void FormsTest::SetUp()
{
    ExecTest::SetUp();
    Back_ground = 0;
    record.log_mode = LOG_MODE_STDERR;
    record.log_level_lumbas = -1;
    record.log_level_basic = -1;
    record.cm_counter = -1;
    saved = global_data;
    global_data = &record;
    oska_do_cp_check = 0;
    for (int kind = 1; kind <= CM_FIELD_TYPE_GMAX; ++kind) saved_rows[kind] = register_record_kind(kind, test_row(kind));
    shown = &messages;
    WindowHooks hooks = window_hooks();
    hooks.message = capture;
    saved_windows = register_window_hooks(hooks);
}

void FormsTest::TearDown()
{
    cmat_free_all();
    ExecTest::TearDown();
    GListModel *windows = gtk_window_get_toplevels();
    while (g_list_model_get_n_items(windows) > 0) {
        auto *w = static_cast<GtkWindow *>(g_list_model_get_item(windows, 0));
        gtk_window_destroy(w);
        g_object_unref(w);
    }
    for (GObject *o : owned_widgets()) g_object_unref(o);
    owned_widgets().clear();
    lumba_test::drain();
    register_window_hooks(saved_windows);
    for (int kind = 1; kind <= CM_FIELD_TYPE_GMAX; ++kind) register_record_kind(kind, saved_rows[kind]);
    global_data = saved;
    oska_do_cp_check = 0;
}

ExecTest::Outcome FormsTest::form(const std::string &body, const std::string &extra)
{
    return run(form_text(body, extra));
}

std::string FormsTest::form_text(const std::string &body, const std::string &extra)
{
    return ".proc r:main I:0 I:0 I:" + std::to_string(NUMERICS) + " I:" + std::to_string(CHARS) +
            " I:0 I:0\n" + body + "exit\n" + extra + "symtab\n" + main_symbols() + ".end\n" +
            "symtab\n__ROUTINE__ post 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\n"
            "IP 0 0 0x8012 0 3 -\nIP$ 40 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n"
            "symtab\n__ROUTINE__ plain 2\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\n"
            "__END_ROUTINE__\n.end\n"
            "symtab\n__ROUTINE__ texts 4\nCM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\n"
            "S$ 40 0 0x8014 0 3 -\nN 0 0 0x8012 0 4 -\n__END_ROUTINE__\n.end\n";
}

double FormsTest::value(Numeric v) const
{
    double d = 0;
    NumericToDBL(&context->routines[0].local_numerics[v], &d);
    return d;
}

long FormsTest::handle(Numeric v) const
{
    long l = 0;
    NumericToLONG(&context->routines[0].local_numerics[v], &l);
    return l;
}

std::string FormsTest::text(Text v, int length) const
{
    const char *p = context->routines[0].local_chars + v;
    return std::string(p, strnlen(p, static_cast<std::size_t>(length)));
}

std::vector<std::string> FormsTest::log_lines(const std::string &err)
{
    static const std::regex prefix(R"(^-?\d+ \d\d:\d\d\.\d{6}  )");
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < err.size()) {
        std::size_t end = err.find('\n', start);
        if (end == std::string::npos) end = err.size();
        std::string line = err.substr(start, end - start);
        std::smatch m;
        if (std::regex_search(line, m, prefix)) lines.push_back(m.suffix());
        start = end + 1;
    }
    return lines;
}
