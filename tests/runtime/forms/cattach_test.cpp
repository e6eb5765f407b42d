// Attached routines in-process: action-code texts and names, ICATTACH_FUN's checks of the
// routine's parameters and of local variables under the `stack` option, replacing and detaching,
// the index-0 fallback, per-call copies, records kept while a routine runs, active soft keys, and
// the helpers cutil_sprintf and cutil_conv_eventkey_to_char.
#include <functional>

#include "cevents.h"
#include "cfunctionkey.h"
#include "cutil.h"
#include "forms_fixture.h"

using namespace forms_test;
using lumba_test::abort_text;

namespace {

const std::string new_cm = ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2);
// Routine numbers of the standard programs (main is 0).
constexpr int POST = 1, PLAIN = 2, TEXTS = 3;

std::string attach(const std::string &code, int index, int routine = PLAIN, const std::string &more = "", int nmore = 0)
{
    return str(code) + num(routine) + val(CM) + num(index) + more + st(in_ICATTACH_FUN, 4 + nmore);
}

// A routine `att` (number 1, called first by main with CM, T$, X and INDEXZ) that attaches `texts`
// (number 4) from inside itself: (cm, 1, arg3, arg4). Its locals: LN, IP, the array LA(3); LS$, IP$.
std::string att(const std::string &arg3, const std::string &arg4, const std::string &cm = "loadrai I:0 I:0 I:1 I:0 I:0 I:0\n")
{
    return ".proc r:att I:0 I:0 I:5 I:40 I:0 I:4\n" + str("Post") + num(4) + cm + num(1) + arg3 + arg4 +
           st(in_ICATTACH_FUN, 6) + "exit\n" + standard_routines +
           "symtab\n__ROUTINE__ att 9\nCMP 0 0 0x8012 0 1 -\nTP$ 40 0 0x8014 0 2 -\nXP 0 0 0x8012 0 3 -\n"
           "ZP 0 0 0x8012 0 4 -\nLN 0 0 0x12 0 5 -\nIP 0 0 0x12 1 6 -\nLA 3 0 0x12 2 7 -\nLS$ 20 0 0x14 0 8 -\n"
           "IP$ 20 0 0x14 20 9 -\n__END_ROUTINE__\n.end\n";
}
const std::string call_att = ref(CM) + sref(TS) + ref(X) + ref(Z) + "pcall r:att I:4\n";
const std::string global_text = "loadsai I:1 I:0 I:1 I:0 I:40 I:0\n";
const std::string global_number = "loadrai I:2 I:0 I:1 I:0 I:0 I:0\n";
const std::string global_index = "loadrai I:3 I:0 I:1 I:0 I:0 I:0\n";
const std::string local_number = "loadrad I:0 I:1 I:0 I:0 I:0\n";
const std::string local_ip = "loadrad I:1 I:1 I:0 I:0 I:0\n";
const std::string local_array = "loadrad I:2 I:1 I:3 I:0 I:0\n";
const std::string local_text = "loadsad I:0 I:1 I:20 I:0 I:0 I:0 I:0 I:0\n";
const std::string local_ip_text = "loadsad I:20 I:1 I:20 I:0 I:0 I:0 I:0 I:0\n";

} // namespace

TEST_F(FormsTest, ActionCodeTexts)
{
    struct {
        const char *text;
        int code;              // 0: refused
        const char *message;   // the refusal, when not "Invalid Action Code <text>"
    } cases[] = {
        {"Post", 1, nullptr},          {"Post_Focus", 1, nullptr},   {"Pre", 20, nullptr},
        {"Pre_Focus", 20, nullptr},    {"Escape", 2, nullptr},       {"Exit", 4, nullptr},
        {"Zoom_Post", 25, nullptr},    {"Screen_Capture", 34, nullptr}, {"Menu_Refresh", 26, nullptr},
        {"F1", 51, nullptr},           {"F2", 52, nullptr},          {"F2x", 52, nullptr},
        {"F9_anything", 59, nullptr},  {"F10", 60, nullptr},         {"F11", 61, nullptr},
        {"F12", 62, nullptr},          {"F12345", 62, nullptr},      {"F3", 53, nullptr},
        {"F3_Post", 0, "F3_Post is now invalid"},                    {"F3x", 0, nullptr},
        {"F13", 0, nullptr},           {"F1x", 0, nullptr},          {"F4", 0, nullptr},
        {"F0", 0, nullptr},            {"F", 0, nullptr},            {"post", 0, nullptr},
        {"Post_Focus ", 0, nullptr},   {"", 0, nullptr},             {"Posting", 0, nullptr},
    };
    for (const auto &c : cases) {
        const std::string t = c.text;
        int code = 0;
        const std::string stop = abort_text([&] { code = cattach_fun_get_ac(t.data(), t.size()); });
        if (c.code) {
            EXPECT_EQ(stop, "") << t;
            EXPECT_EQ(code, c.code) << t;
        } else {
            EXPECT_EQ(stop, c.message ? c.message : "Invalid Action Code " + t) << t;
        }
    }
    struct {
        int code;
        const char *name;
    } names[] = {{1, "Post_Focus"}, {7, "Change_Content"}, {34, "Screen_Capture"}, {51, "F1"}, {62, "F12"},
                 {54, "Internal 54"}, {8, "Internal 8"}, {121, "Internal 121"}, {999999999, "Internal 999999999"}};
    for (const auto &n : names) {
        char buffer[24];
        EXPECT_STREQ(cgetac(buffer, n.code), n.name);
    }
}

TEST_F(FormsTest, LocalVariablesAndLiteralsUnderTheStackOption)
{
    ASSERT_EQ(form(new_cm).abort, "");
    const std::string number_of_cm = num(handle(CM));
    delete_all_applications();
    struct {
        std::string arg3, arg4, cm;
        const char *checked;    // the stop with the stack option, "" when attached
        bool unchecked_attaches;
    } cases[] = {
        {global_text, global_number, "", "", true},
        {local_text, global_number, "", "Localised string not permitted in parameter 5", true},
        {local_ip_text, global_number, "", "", true},
        {global_text, local_number, "", "Localised numeric not permitted in parameter 6", true},
        {global_text, local_ip, "", "", true},
        {global_text, local_array, "", "Localised real array not permitted in parameter 6", true},
        {str("lit"), num(3), "", "", true},
        {global_text, global_index, "", "Unexpected parameter 6 encountered 'INDEXZ'", true},
        {global_text, global_number, number_of_cm, "Unexpected literal encountered in parameter 3", true},
        {global_text, global_number, global_number, "Unexpected third parameter encountered 'X'", true},
        {global_number, global_number, "",
         "Expecting parameter 3 of function texts to be defined as numeric; or inconsistent parameter 5 to icattach_fun", false},
    };
    for (int checked = 0; checked <= 1; ++checked)
        for (const auto &c : cases) {
            oska_do_cp_check = checked;
            // main's CM and X both hold the CM's number.
            const std::string body = number_of_cm + set(CM) + number_of_cm + set(X) + call_att;
            Outcome o = form(body, c.cm.empty() ? att(c.arg3, c.arg4) : att(c.arg3, c.arg4, c.cm));
            const std::string expected = checked || !c.unchecked_attaches ? c.checked : "";
            EXPECT_EQ(o.abort, expected) << "checked " << checked << ": " << c.arg3 + c.arg4 + c.cm;
            delete_all_applications();
        }
}

TEST_F(FormsTest, RoutineParametersAreCheckedAgainstTheArguments)
{
    struct {
        std::string body;
        std::string message;
    } cases[] = {
        {attach("Post", 1, 99), "Routine 99 not found! Program_name "},
        {attach("Post", 1, PLAIN, num(1), 1), "Premature end of symbols in cattach_fun_val_parms"},
        {attach("Post", 1, POST, num(1) + num(2), 2),
         "Expecting parameter 4 of function post to be defined as numeric; or inconsistent parameter 6 to icattach_fun"},
        {attach("Post", 1, POST, str("a") + str("b"), 2),
         "Expecting parameter 3 of function post to be defined as string; or inconsistent parameter 5 to icattach_fun"},
        {attach("Post", 1, TEXTS, "loadsad I:0 I:1 I:20 I:2 I:0 I:0 I:0 I:0\n" + num(1), 2),
         "Unknown type of data passed to icattach_fun; parameter 5 type 3"},
        {attach("Exit", 1), "May only attach a function with the Exit Action Code to the Window (index zero)"},
        {attach("Exit", 0) + attach("Post", 1, POST, num(1) + sref(IPS), 2), ""},
    };
    for (const auto &c : cases) {
        const std::string stop = form(new_cm + c.body).abort;
        EXPECT_EQ(stop.substr(0, c.message.size()), c.message) << c.body;
        if (!c.message.empty()) {
            EXPECT_FALSE(stop.empty());
        }
        cmat_free_all();
        delete_all_applications();
    }
    // A routine without a name.
    const std::string nameless = ".proc r:\"\" I:0 I:0 I:0 I:0 I:0 I:0\nexit\n";
    testing::internal::CaptureStdout();
    const std::string stop = form(new_cm + attach("Post", 1, 1), nameless + standard_routines).abort;
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(stop.substr(0, 27), "Routine 1 is nameless! Prog");
}

TEST_F(FormsTest, ArgumentsAreKeptByReferenceOrCopied)
{
    Outcome o = form(new_cm + str("abc") + sset(TS) + num(5) + set(X) +
                     attach("Post", 2, TEXTS, sref(TS) + ref(X), 2) + attach("Pre", 2, TEXTS, str("lit") + num(7), 2));
    ASSERT_EQ(o.abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    SubControlMatrix_t *post = cmat_get_scm(cm, 2, AC_POST_FOCUS), *pre = cmat_get_scm(cm, 2, AC_PRE_FOCUS);
    ASSERT_NE(post, nullptr);
    ASSERT_NE(pre, nullptr);
    EXPECT_EQ(post->routine, &context->routines[TEXTS]);
    ASSERT_EQ(post->nparams, 4);
    Stack params[4];
    const char *names[4];
    cattach_params(post, params, names);
    // The CM and the index are values; the text and the number refer to the variables.
    EXPECT_FALSE(params[0].flags & stk_ref);
    long handle_value = 0;
    NumericToLONG(params[0].s_c.C_N, &handle_value);
    EXPECT_EQ(handle_value, reinterpret_cast<long>(cm));
    EXPECT_EQ(params[0].s_c.C_N, &params[0].num);
    double index = 0;
    NumericToDBL(params[1].s_c.C_N, &index);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(names[0], nullptr);
    EXPECT_STREQ(names[2], "T$");
    EXPECT_STREQ(names[3], "X");
    EXPECT_EQ(params[3].s_c.C_N, &context->routines[0].local_numerics[X]);
    EXPECT_EQ(params[2].s_c.C_S, context->routines[0].local_chars + TS);
    // A text variable is kept blank-padded to its declared length.
    EXPECT_EQ(text(TS), std::string("abc") + std::string(37, ' '));
    EXPECT_EQ(params[2].length, 40u);
    // A literal text is the record's own.
    Stack literal[4];
    cattach_params(pre, literal, names);
    EXPECT_FALSE(literal[2].flags & stk_ref);
    EXPECT_EQ(std::string(literal[2].s_c.C_S, literal[2].length), "lit");
    EXPECT_EQ(names[2], nullptr);

    // Per call: references with a name stay references, everything else is copied.
    NumericCvINT(9, &context->routines[0].local_numerics[X]);
    char **strings = nullptr;
    int nstrings = 0;
    Stack *copy = cutil_cp_scm(post, &strings, &nstrings);
    double x = 0;
    NumericToDBL(copy[3].s_c.C_N, &x);
    EXPECT_EQ(x, 9);
    EXPECT_EQ(copy[3].s_c.C_N, &context->routines[0].local_numerics[X]);
    EXPECT_EQ(copy[0].s_c.C_N, &copy[0].num);
    EXPECT_EQ(nstrings, 0);
    cutil_free_stk(copy, strings, nstrings);
    const char *no_names[4] = {};
    copy = cutil_cp_stk(params, 4, &strings, &nstrings, no_names);
    EXPECT_EQ(copy[3].s_c.C_N, &copy[3].num);
    EXPECT_EQ(nstrings, 1);
    EXPECT_NE(copy[2].s_c.C_S, params[2].s_c.C_S);
    EXPECT_EQ(std::string(copy[2].s_c.C_S, copy[2].length), text(TS));
    cutil_free_stk(copy, strings, nstrings);
    copy = cutil_cp_scm(pre, &strings, &nstrings);
    ASSERT_EQ(nstrings, 1);
    EXPECT_NE(copy[2].s_c.C_S, literal[2].s_c.C_S);
    EXPECT_EQ(std::string(copy[2].s_c.C_S, copy[2].length), "lit");
    cutil_free_stk(copy, strings, nstrings);
    // Every reference stays one when no names are given.
    copy = cutil_cp_stk(params, 4, &strings, &nstrings, nullptr);
    EXPECT_EQ(copy[3].s_c.C_N, params[3].s_c.C_N);
    EXPECT_EQ(nstrings, 0);
    cutil_free_stk(copy, strings, nstrings);
}

TEST_F(FormsTest, ReattachingReplacesAndDetachingRemovesExactlyThePair)
{
    Outcome o = form(new_cm + attach("Post", 1) + attach("Pre", 1) + attach("Post", 0) + attach("Post", 3) +
                     attach("Post", 1, POST, num(1) + sref(IPS), 2));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(messages, std::vector<std::string>{"iginput_setup is being rerun for index = 1"});
    ControlMatrix_t *cm = cm_of(CM);
    // The old head is gone; the new record is last.
    std::vector<std::pair<int, int>> list;
    for (SubControlMatrix_t *s = cm->scm_list; s; s = s->next) list.emplace_back(s->action_code, s->ind);
    EXPECT_EQ(list, (std::vector<std::pair<int, int>>{{20, 1}, {1, 0}, {1, 3}, {1, 1}}));
    EXPECT_EQ(cm->scm_list->prior, nullptr);
    EXPECT_EQ(cm->scm_last->ind, 1);
    EXPECT_EQ(cm->scm_last->routine, &context->routines[POST]);
    // Lookups: a field's own record, else the window's.
    EXPECT_EQ(cmat_get_fn_ptr(cm, 3, AC_POST_FOCUS)->ind, 3);
    EXPECT_EQ(cmat_get_fn_ptr(cm, 5, AC_POST_FOCUS)->ind, 0);
    EXPECT_EQ(cmat_get_fn_ptr(cm, 5, AC_PRE_FOCUS), nullptr);
    delete_all_applications();
    const std::string c = lumba_test::num(std::to_string(reinterpret_cast<long>(cm)));
    ASSERT_EQ(form(str("Post") + c + num(3) + st(in_ICDETACH_FUN, 3) + str("F7") + c + num(3) + st(in_ICDETACH_FUN, 3))
                  .abort,
              "");
    EXPECT_EQ(cmat_get_fn_ptr(cm, 3, AC_POST_FOCUS)->ind, 0);  // the window's stays
    delete_all_applications();
    ASSERT_EQ(form(str("Post") + c + num(0L) + st(in_ICDETACH_FUN, 3)).abort, "");
    EXPECT_EQ(cmat_get_fn_ptr(cm, 3, AC_POST_FOCUS), nullptr);
    EXPECT_EQ(cmat_get_fn_ptr(cm, 1, AC_POST_FOCUS)->ind, 1);
    delete_all_applications();
    EXPECT_EQ(form(str("Bogus") + c + num(0L) + st(in_ICDETACH_FUN, 3)).abort, "Invalid Action Code Bogus");
}

TEST_F(FormsTest, RecordsRemovedWhileARoutineRunsWaitForIt)
{
    Add row;
    ASSERT_EQ(form(new_cm + row.text() + row.text() + attach("Post", 1) + attach("Pre", 1) + attach("F2", 2)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    SubControlMatrix_t *post = cmat_get_scm(cm, 1, AC_POST_FOCUS);
    cm->ac_stack[0] = AC_POST_FOCUS;  // Post_Focus runs on this CM
    cremove_scm(cm, post);
    cremove_ind(cm, 2, 2);
    int parked = 0;
    for (SubControlMatrix_t *s = cm->scm_free_list; s; s = s->next) ++parked;
    EXPECT_EQ(parked, 2);
    EXPECT_EQ(post->routine, &context->routines[PLAIN]);  // still readable
    EXPECT_EQ(cmat_get_fn_ptr(cm, 1, AC_POST_FOCUS), nullptr);
    ccallbacks_finish_event(0, 0);
    EXPECT_NE(cm->scm_free_list, nullptr);  // the routine still runs
    delete_all_applications();
    EXPECT_NE(cm->scm_free_list, nullptr);
    cm->ac_stack[0] = 0;
    ccallbacks_finish_event(0, 0);
    EXPECT_EQ(cm->scm_free_list, nullptr);
}

TEST_F(FormsTest, ActiveSoftKeys)
{
    ASSERT_EQ(form(new_cm + attach("F1", 2) + attach("F10", 0) + attach("Escape", 2) + attach("Screen_Capture", 0) +
                   attach("F5", 3))
                  .abort,
              "");
    ControlMatrix_t *cm = cm_of(CM);
    cutil_cp_stack(cm, nullptr, 0, 2, AC_ZOOM_SEARCH_FIELD, nullptr, nullptr, 1);
    cutil_cp_stack(cm, nullptr, 0, 2, AC_DATE_SETUP, nullptr, nullptr, 1);
    cutil_cp_stack(cm, nullptr, 0, 0, AC_NOTE_WINDOW, nullptr, nullptr, 1);
    int flags[CM_SOFT_KEYS];
    cutil_get_active_function_keys(cm, 2, flags);
    EXPECT_EQ(std::vector<int>(flags, flags + CM_SOFT_KEYS), (std::vector<int>{1, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1}));
    cutil_get_active_function_keys(cm, 3, flags);
    EXPECT_EQ(std::vector<int>(flags, flags + CM_SOFT_KEYS), (std::vector<int>{1, 0, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1}));
    // A field with nothing attached, on a CM with nothing attached: Escape and F8 only.
    ControlMatrix_t *bare = cset_new(&record, nullptr, 0);
    cutil_get_active_function_keys(bare, 1, flags);
    EXPECT_EQ(std::vector<int>(flags, flags + CM_SOFT_KEYS), (std::vector<int>{1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
    // The soft-key bar follows.
    GtkWidget *f1 = gtk_button_new(), *f2 = gtk_button_new();
    g_object_ref_sink(f1);
    g_object_ref_sink(f2);
    cfunctionkey_add(cm, f1, 51);
    cfunctionkey_add(cm, f2, 52);
    cutil_set_active_function_keys(cm, 2);
    EXPECT_TRUE(gtk_widget_get_sensitive(f1));
    EXPECT_FALSE(gtk_widget_get_sensitive(f2));
    g_object_unref(f1);
    g_object_unref(f2);
}

TEST(FormsHelpers, BoundedFormatting)
{
    struct {
        int size;
        const char *text;
        const char *message;
    } cases[] = {
        {20, "0123456789012345678", nullptr},
        {20, "01234567890123456789", "cutil_sprintf buffer overflow"},
        {1, "", nullptr},
        {0, "", "cutil_sprintf buffer overflow"},
        {-5, "x", "cutil_sprintf buffer overflow"},
    };
    for (const auto &c : cases) {
        char buffer[32] = "untouched";
        int n = -1;
        const std::string stop = abort_text([&] { n = cutil_sprintf(buffer, c.size, "%s", c.text); });
        if (c.message) {
            EXPECT_EQ(stop, c.message) << c.size;
        } else {
            EXPECT_EQ(stop, "");
            EXPECT_EQ(n, static_cast<int>(std::strlen(c.text)));
            EXPECT_STREQ(buffer, c.text);
        }
    }
    // The value-list form has its own text.
    const auto v = [](char *buffer, int size, const char *format, ...) {
        std::va_list ap;
        va_start(ap, format);
        const int n = cutil_vpsprintf(buffer, size, format, ap);
        va_end(ap);
        return n;
    };
    char small[4];
    EXPECT_EQ(abort_text([&] { v(small, 4, "%d", 1234); }), "cutil_sprintf buffer overflow(2)");
    EXPECT_EQ(v(small, 4, "%d", 123), 3);
}

TEST(FormsHelpers, KeyToCharacter)
{
    constexpr unsigned num_lock = 1u << 4, unnamed = 1u << 13;
    struct {
        unsigned key, state;
        int character;
    } cases[] = {
        {'a', 0, 'a'},
        {'A', GDK_SHIFT_MASK, 'A'},
        {'a', GDK_LOCK_MASK, 'a'},
        {'a', num_lock, 'a'},
        {'a', unnamed, 'a'},
        {'a', GDK_SUPER_MASK, 'a'},
        {' ', 0, ' '},
        {'~', 0, '~'},
        {'a', GDK_CONTROL_MASK, 10},
        {'a', GDK_ALT_MASK | num_lock, 10},
        {'a', GDK_META_MASK, 10},
        {'a', GDK_HYPER_MASK, 10},
        {GDK_KEY_KP_Multiply, 0, '*'},
        {GDK_KEY_KP_Add, num_lock, '+'},
        {GDK_KEY_KP_Subtract, 0, '-'},
        {GDK_KEY_KP_Decimal, 0, '.'},
        {GDK_KEY_KP_Divide, 0, '/'},
        {GDK_KEY_KP_0, num_lock, '0'},
        {GDK_KEY_KP_9, 0, '9'},
        {GDK_KEY_KP_Separator, 0, 10},
        {GDK_KEY_Return, 0, 10},
        {GDK_KEY_eacute, 0, 10},
        {31, 0, 10},
        {127, 0, 10},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cutil_conv_eventkey_to_char(c.key, c.state), c.character) << c.key << " " << c.state;
}
