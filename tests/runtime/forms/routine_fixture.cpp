#include "routine_fixture.h"

#include <cstring>

#include "cinvoke.h"
#include "common_block.h"
#include "gui_env.h"

using namespace forms_test;

namespace routine_test {
namespace {

using lumba_test::from_cell;
using lumba_test::param;
using lumba_test::to_cell;
std::string sparam(int k) { return "loadsvi I:" + std::to_string(k) + " I:0 I:1 I:0 I:0 I:0\n"; }
std::string text_of(int k) { return param(k) + sfn(in_STR, 1); }
std::string stripped(int k) { return sparam(k) + sfn(in_STRIP, 1); }
// IMLOG(0, the n texts pushed by pieces).
std::string log_line(const std::string &pieces, int n)
{
    return num(0L) + pieces + "scat I:" + std::to_string(n) + "\n" + st(in_IMLOG, 2);
}

std::string symbols(const char *name, const std::string &params)
{
    std::string t = "symtab\n__ROUTINE__ " + std::string(name) + " " + std::to_string(params.size()) + "\n";
    const char *names[] = {"CM", "IND", "IP", "IP$"};
    for (std::size_t i = 0; i < params.size(); ++i) {
        const bool text = params[i] == 's';
        const std::string n = params == "s" ? "S$" : names[i];
        t += n + (text ? " 40 0 0x8014 0 " : " 0 0 0x8012 0 ") + std::to_string(i + 1) + " -\n";
    }
    return t + "__END_ROUTINE__\n.end\n";
}

std::string head(const char *kind, const char *name, int nargs)
{
    return std::string(kind) + " r:" + name + " I:0 I:0 I:0 I:0 I:0 I:" + std::to_string(nargs) + "\n";
}

} // namespace

const std::string common = ".common I:4 I:0\n";

const std::string routines =
    standard_routines +
    head(".nfunc", "probe", 4) +
    log_line(str("probe ") + text_of(1) + str(" ") + text_of(2) + str(" [") + stripped(3) + str("]"), 7) + from_cell(0) +
    "exitv\n" +
    head(".nfunc", "plainfn", 2) + log_line(str("plain ") + text_of(1), 2) + from_cell(0) + "exitv\n" +
    head(".sfunc", "words", 4) + str("done") + "exitv\n" +
    head(".proc", "nothing", 2) + log_line(str("nothing"), 1) + "end\n" +
    head(".proc", "again", 1) + num(AGAIN) + param(0) + st(in_ICINVOKE_FETCH, 2) + "exit\n" +
    head(".nfunc", "caller", 2) + num(FIRST) + st(in_ICCALL_FUN, 1) + num(SECOND) + str("x") + st(in_ICCALL_FUN, 2) +
    log_line(str("caller"), 1) + num(1) + "exitv\n" +
    head(".proc", "first", 0) + log_line(str("first"), 1) + "exit\n" +
    head(".proc", "second", 1) + log_line(str("second ") + stripped(0), 2) + "exit\n" +
    head(".nfunc", "poster", 4) + param(0) + str("picked") + st(in_ICINVOKE_ZOOM_POST, 2) + from_cell(0) + "exitv\n" +
    head(".nfunc", "detacher", 2) + str("F5") + param(0) + num(0L) + st(in_ICDETACH_FUN, 3) + num(0L) + "exitv\n" +
    head(".nfunc", "outer", 4) + param(0) + st(in_ICINVOKE_WIN_POST, 1) + param(0) + st(in_ICCLEAR, 1) +
    log_line(str("outer ") + text_of(2) + str(" [") + stripped(3) + str("]"), 5) + num(1) + "exitv\n" +
    head(".nfunc", "clearer", 4) + log_line(str("clear ") + text_of(1) + str(" [") + stripped(3) + str("]"), 5) +
    num(1) + "exitv\n" +
    head(".nfunc", "counter", 4) + from_cell(1) + num(1) + "add\n" + to_cell(1) + log_line(str("pre ") + text_of(1), 2) +
    num(1) + "exitv\n" +
    head(".nfunc", "focuser", 4) + param(0) + num(2) + st(in_ICSET_FOCUS, 2) + num(1) + "exitv\n" +
    symbols("probe", "nnns") + symbols("plainfn", "nn") + symbols("words", "nnns") + symbols("nothing", "nn") +
    symbols("again", "n") + symbols("caller", "nn") + symbols("first", "") + symbols("second", "s") +
    symbols("poster", "nnns") + symbols("detacher", "nn") + symbols("outer", "nnns") + symbols("clearer", "nnns") +
    symbols("counter", "nnns") + symbols("focuser", "nnns");

std::string attach(Numeric cm, const std::string &code, int routine, int index, bool ip)
{
    return str(code) + num(routine) + val(cm) + num(index) + (ip ? ref(IP) + sref(IPS) : "") +
           st(in_ICATTACH_FUN, ip ? 6 : 4);
}

std::string add(Numeric cm, const std::string &name, const void *entry, int type, int tab, int enabled, int prompt)
{
    Add a;
    a.cm = val(cm);
    a.name = str(name);
    a.prompt = num(prompt);
    a.entry = number(entry);
    a.type = num(type);
    a.tab = num(tab);
    a.enabled = num(enabled);
    return a.text();
}

Window make_window(int buttons)
{
    Window w;
    w.window = gtk_window_new();
    handle_issue_widget(w.window);
    w.box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_window_set_child(GTK_WINDOW(w.window), w.box);
    handle_issue_widget(w.box);
    for (int i = 1; i <= buttons; ++i) {
        GtkWidget *b = gtk_button_new_with_label(("F" + std::to_string(i)).c_str());
        gtk_box_append(GTK_BOX(w.box), b);
        handle_issue_widget(b);
        w.buttons.push_back(b);
    }
    return w;
}

} // namespace routine_test

void RoutineTest::SetUp()
{
    FormsTest::SetUp();
    record.log_level_basic = 0;
}

ExecTest::Outcome RoutineTest::program(const std::string &body)
{
    return form(routine_test::common + body, routine_test::routines);
}

std::string RoutineTest::logged(const std::function<void()> &work, std::vector<std::string> *lines,
                                std::vector<std::string> *all)
{
    testing::internal::CaptureStderr();
    const std::string stop = lumba_test::abort_text(work);
    const std::string err = testing::internal::GetCapturedStderr();
    if (all) *all = log_lines(err);
    if (lines) {
        lines->clear();
        for (const std::string &l : log_lines(err))
            if (l.rfind("B ", 0) == 0) lines->push_back(l.substr(2));
    }
    return stop;
}

RoutineTest::Call RoutineTest::invoke(ControlMatrix_t *cm, int code, int index, const char *variable, const char *text,
                                      int value, int must_exist, int close_processing)
{
    Call c;
    c.index = index;
    char *result = nullptr;
    c.abort = logged(
        [&] {
            c.answer = cinvoke_basic_routine(cm, &c.out, code, &c.index, nullptr, &record, variable, text, value,
                                             must_exist, &result, &c.closing, close_processing);
        },
        &c.logged, &c.lines);
    if (result) c.result = result;
    g_free(result);
    return c;
}

void RoutineTest::set_cell(int i, long value)
{
    NumericCvLONG(value, &static_cast<dec_t *>(Common_variables)[i]);
}

long RoutineTest::cell_value(int i) const
{
    long v = 0;
    NumericToLONG(&cell(i), &v);
    return v;
}
