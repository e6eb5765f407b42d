// Control matrices in-process on a private X server: the handle check of every intrinsic, window
// binding, state elements, the dump, the free road with its deferred CMs, cursors, the end of an
// event, soft-key slots, the window pipe and the main loop.
#include <fcntl.h>
#include <functional>
#include <unistd.h>

#include "ccallback.h"
#include "cclick.h"
#include "cevents.h"
#include "cfunctionkey.h"
#include "ckeys.h"
#include "cloop.h"
#include "forms_fixture.h"
#include "gui_env.h"
#include "hooks.h"

using namespace forms_test;
using lumba_test::abort_text;

namespace {


// A window made as the window constructor will make it: issued to the program as a number.
GtkWidget *issued_window()
{
    GtkWidget *w = gtk_window_new();
    handle_issue_widget(w);
    return w;
}


} // namespace

TEST_F(FormsTest, EveryIntrinsicChecksItsCountAndHandle)
{
    // A CM made and freed: its number is stale.
    ASSERT_EQ(form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    ControlMatrix_t *stale = cm_of(CM);
    cmat_free_cm(stale);
    delete_all_applications();
    const std::string gone = number(stale);

    struct Case {
        const char *name;
        std::function<std::string(const std::string &cm)> call;  // the call with cm as its handle
        std::string wrong_count;                                 // a call with a wrong count
        const char *zero, *count;
    };
    const auto one = [](int code, bool statement) {
        return [=](const std::string &cm) { return cm + (statement ? st(code, 1) : fn(code, 1) + set(X)); };
    };
    const auto field_getter = [](int code) { return [=](const std::string &cm) { return cm + num(1) + fn(code, 2) + set(X); }; };
    const auto field_setter = [](int code) { return [=](const std::string &cm) { return cm + num(1) + num(0L) + st(code, 3); }; };
    const char *valid = "Must have a valid Process Control Matrix";
    const char *first = "Must set the Process Control Matrix first";
    const char *count = "Invalid number of parameters";
    Case cases[] = {
        {"ICSET_ANYCHANGE", [](auto cm) { return cm + num(1) + st(in_ICSET_ANYCHANGE, 2); }, num(1) + st(in_ICSET_ANYCHANGE, 1), valid, count},
        {"ICSET_MODIFIED", [](auto cm) { return cm + num(1) + st(in_ICSET_MODIFIED, 2); }, num(1) + num(1) + num(1) + st(in_ICSET_MODIFIED, 3), valid, count},
        {"ICSET_PROGRAM_MODE", [](auto cm) { return cm + num(1) + st(in_ICSET_PROGRAM_MODE, 2); }, num(1) + st(in_ICSET_PROGRAM_MODE, 1), valid, count},
        {"ICGET_ANYCHANGE", one(in_ICGET_ANYCHANGE, false), num(1) + num(1) + fn(in_ICGET_ANYCHANGE, 2), valid, count},
        {"ICGET_MODIFIED", one(in_ICGET_MODIFIED, false), fn(in_ICGET_MODIFIED, 0), valid, count},
        {"ICGET_PROGRAM_MODE", one(in_ICGET_PROGRAM_MODE, false), fn(in_ICGET_PROGRAM_MODE, 0), valid, count},
        {"ICGET_CURRENT_FOCUS", one(in_ICGET_CURRENT_FOCUS, false), fn(in_ICGET_CURRENT_FOCUS, 0), valid, count},
        {"ICGET_RETURN_FOCUS", one(in_ICGET_RETURN_FOCUS, false), fn(in_ICGET_RETURN_FOCUS, 0), valid, count},
        {"ICSHOW_ALL", one(in_ICSHOW_ALL, true), st(in_ICSHOW_ALL, 0), first, "Invalid number of parameters to icshow_all"},
        {"ICHIDE_ALL", one(in_ICHIDE_ALL, true), num(1) + num(1) + st(in_ICHIDE_ALL, 2), first, "Invalid number of parameters to ichide_all"},
        {"IDISPLAY_CM", [](auto cm) { return cm + str("t") + st(in_IDISPLAY_CM, 2); }, num(1) + st(in_IDISPLAY_CM, 1), first, "Invalid number of parameters to idisplay_cm"},
        {"ICADD", [](auto cm) { Add a; a.cm = cm; return a.text(); }, num(1) + fn(in_ICADD, 1), "Must set the Process Control Matrix before inserting entries", "Invalid number of parameters to icadd"},
        {"ICGET_FIELD_PROMPT_NO", field_getter(in_ICGET_FIELD_PROMPT_NO), num(1) + fn(in_ICGET_FIELD_PROMPT_NO, 1), valid, count},
        {"ICGET_FIELD_TAB_SEQ", field_getter(in_ICGET_FIELD_TAB_SEQ), num(1) + fn(in_ICGET_FIELD_TAB_SEQ, 1), valid, count},
        {"ICGET_FIELD_ENABLED", field_getter(in_ICGET_FIELD_ENABLED), num(1) + fn(in_ICGET_FIELD_ENABLED, 1), valid, count},
        {"ICGET_FIELD_TYPE", field_getter(in_ICGET_FIELD_TYPE), num(1) + fn(in_ICGET_FIELD_TYPE, 1), valid, count},
        {"ICGET_FIELD_VALID", field_getter(in_ICGET_FIELD_VALID), num(1) + fn(in_ICGET_FIELD_VALID, 1), valid, count},
        {"ICGET_FIELD_PROMPT_PTR", field_getter(in_ICGET_FIELD_PROMPT_PTR), num(1) + fn(in_ICGET_FIELD_PROMPT_PTR, 1), valid, count},
        {"ICGET_FIELD_ENTRY_PTR", field_getter(in_ICGET_FIELD_ENTRY_PTR), num(1) + fn(in_ICGET_FIELD_ENTRY_PTR, 1), valid, count},
        {"ICGET_FIELD_DES_PTR", field_getter(in_ICGET_FIELD_DES_PTR), num(1) + fn(in_ICGET_FIELD_DES_PTR, 1), valid, count},
        {"ICGET_FIELD_NAME$", [](auto cm) { return cm + num(1) + sfn(in_ICGET_FIELD_NAME, 2) + sset(TS); }, num(1) + sfn(in_ICGET_FIELD_NAME, 1), valid, count},
        {"ICSET_FIELD_PROMPT_NO", field_setter(in_ICSET_FIELD_PROMPT_NO), num(1) + num(1) + st(in_ICSET_FIELD_PROMPT_NO, 2), valid, count},
        {"ICSET_FIELD_TYPE", field_setter(in_ICSET_FIELD_TYPE), num(1) + st(in_ICSET_FIELD_TYPE, 1), valid, count},
        {"ICSET_FIELD_VALID", field_setter(in_ICSET_FIELD_VALID), num(1) + st(in_ICSET_FIELD_VALID, 1), valid, count},
        {"ICSET_FIELD_ENABLED", field_setter(in_ICSET_FIELD_ENABLED), num(1) + st(in_ICSET_FIELD_ENABLED, 1), valid, count},
        {"ICSET_FIELD_TAB_SEQ", field_setter(in_ICSET_FIELD_TAB_SEQ), num(1) + st(in_ICSET_FIELD_TAB_SEQ, 1), valid, count},
        {"ICSET_FIELD_PROMPT_PTR", field_setter(in_ICSET_FIELD_PROMPT_PTR), num(1) + st(in_ICSET_FIELD_PROMPT_PTR, 1), valid, count},
        {"ICSET_FIELD_ENTRY_PTR", field_setter(in_ICSET_FIELD_ENTRY_PTR), num(1) + st(in_ICSET_FIELD_ENTRY_PTR, 1), valid, count},
        {"ICSET_FIELD_DES_PTR", field_setter(in_ICSET_FIELD_DES_PTR), num(1) + st(in_ICSET_FIELD_DES_PTR, 1), valid, count},
        {"ICSET_FIELD_NAME", [](auto cm) { return cm + num(1) + str("N") + st(in_ICSET_FIELD_NAME, 3); }, num(1) + st(in_ICSET_FIELD_NAME, 1), valid, count},
        {"ICGET_LAST_INDEX", one(in_ICGET_LAST_INDEX, false), num(1) + num(1) + fn(in_ICGET_LAST_INDEX, 2), valid, count},
        {"ICGET_INDEX", [](auto cm) { return cm + str("F") + fn(in_ICGET_INDEX, 2) + set(X); }, num(1) + fn(in_ICGET_INDEX, 1), "Must set the Process Control Matrix before getting the index", "Invalid number of parameters to icget_index"},
        {"ICCHECK_INDEX", [](auto cm) { return cm + str("F") + fn(in_ICCHECK_INDEX, 2) + set(X); }, num(1) + fn(in_ICCHECK_INDEX, 1), first, count},
        {"ICREMOVE", [](auto cm) { return cm + num(1) + st(in_ICREMOVE, 2); }, num(1) + num(1) + num(1) + num(1) + st(in_ICREMOVE, 4), "Must set the Process Control Matrix before removing entries", "Invalid number of parameters to icremove"},
        {"ICATTACH_FUN", [](auto cm) { return str("Post") + num(2) + cm + num(1) + st(in_ICATTACH_FUN, 4); }, str("Post") + num(2) + num(1) + st(in_ICATTACH_FUN, 3), "Must set the Process Control Matrix before attaching a function to a widget", "Invalid number of parameters to icset_control_matrix"},
        {"ICDETACH_FUN", [](auto cm) { return str("Post") + cm + num(1) + st(in_ICDETACH_FUN, 3); }, str("Post") + num(1) + st(in_ICDETACH_FUN, 2), "Must have a valid Process Control Matrix for detaching a function from a widget", "Invalid number of parameters to icdetach_fun"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(form(c.call(num(0L))).abort, c.zero) << c.name;
        delete_all_applications();
        EXPECT_EQ(form(c.call(gone)).abort, "Invalid Control Matrix pointer; The Control Matrix has possibly been deleted.")
            << c.name;
        delete_all_applications();
        EXPECT_EQ(form(c.wrong_count).abort, c.count) << c.name;
        delete_all_applications();
    }
    // A handle must be a number.
    EXPECT_NE(form(str("x") + st(in_ICSHOW_ALL, 1)).abort.find("stk->s_t == real"), std::string::npos);
}

TEST_F(FormsTest, AttachWindowBindsAfterZero)
{
    GtkWidget *w = issued_window();
    Outcome o = form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2) + val(CM) + set(X) + ref(CM) + number(w) +
                     num(9) + st(in_ICATTACH_WINDOW, 3));
    ASSERT_EQ(o.abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    EXPECT_EQ(handle(X), handle(CM));  // the same CM, bound now
    EXPECT_EQ(record.first_cm, cm);
    EXPECT_EQ(record.last_cm, cm);
    EXPECT_EQ(cm->window, w);
    EXPECT_EQ(cm->type, CM_WT_WINDOW);
    EXPECT_EQ(cm->Minterp, context);
    EXPECT_EQ(cm->busy, 1);
    for (int fd : {cm->sem_id, cm->sem_key, cm->pipe_read_fd, cm->pipe_write_fd}) EXPECT_EQ(fd, -1);
    // The application records the first window it attached.
    ASSERT_NE(applications, nullptr);
    EXPECT_EQ(applications->owner_window, w);
}

TEST_F(FormsTest, AttachWindowMakesTheChildTransientAndModal)
{
    GtkWidget *parent = issued_window(), *child = issued_window();
    GtkWidget *content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_window_set_child(GTK_WINDOW(parent), content);
    ASSERT_EQ(form(ref(CM) + number(parent) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    ControlMatrix_t *first = cm_of(CM);
    EXPECT_EQ(first->child_container, content);
    // The parent was handling field 3 when the child came; it leaves the busy cursor.
    first->event_index = 3;
    first->busy = 0;
    ASSERT_EQ(form(ref(CM2) + number(child) + st(in_ICATTACH_WINDOW, 2) + number(first) +
                   fn(in_ICGET_RETURN_FOCUS, 1) + set(X))
                  .abort,
              "");
    ControlMatrix_t *second = cm_of(CM2);
    EXPECT_EQ(second->prior, first);
    EXPECT_EQ(first->next, second);
    EXPECT_EQ(value(X), 3);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(child)), GTK_WINDOW(parent));
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(child)));
    EXPECT_EQ(first->busy, 1);
    GdkCursor *cursor = gtk_widget_get_cursor(parent);
    ASSERT_NE(cursor, nullptr);
    EXPECT_STREQ(gdk_cursor_get_name(cursor), "wait");
    EXPECT_EQ(second->child_container, nullptr);  // only the first CM records its content
}

TEST_F(FormsTest, AttachWindowRefusals)
{
    GtkWidget *w = issued_window();
    GtkWidget *label = gtk_label_new("not a window");
    g_object_ref_sink(label);
    handle_issue_widget(label);
    GtkWidget *unissued = gtk_window_new();
    struct {
        std::string body;
        std::string message;
    } cases[] = {
        // The same window twice, even with a single CM in the chain.
        {ref(CM) + number(w) + st(in_ICATTACH_WINDOW, 2) + ref(CM2) + number(w) + st(in_ICATTACH_WINDOW, 2),
         "Attempting to attach a window " + hex(w) + " when the window is already attached to a Control Matrix"},
        {ref(CM) + number(label) + st(in_ICATTACH_WINDOW, 2), "Invalid window id " + hex(label)},
        {ref(CM) + number(unissued) + st(in_ICATTACH_WINDOW, 2), "Invalid window id " + hex(unissued)},
        {ref(CM) + num(4096) + st(in_ICATTACH_WINDOW, 2), "Invalid window id 1000"},
        {num(0L) + number(w) + st(in_ICATTACH_WINDOW, 2), "The Control Matrix must be defined as a numeric"},
        {num(7) + set(CM) + ref(CM) + number(w) + st(in_ICATTACH_WINDOW, 2),
         "Invalid numeric Control Matrix pointer passed to icattach_window"},
        {ref(CM) + st(in_ICATTACH_WINDOW, 1), "Invalid number of parameters to icmat_attach_window"},
        {ref(CM) + num(0L) + num(0L) + num(0L) + st(in_ICATTACH_WINDOW, 4), "Invalid number of parameters to icmat_attach_window"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(form(c.body).abort, c.message) << c.body;
        cmat_free_all();
        delete_all_applications();
    }
    gtk_window_destroy(GTK_WINDOW(unissued));
    g_object_unref(label);
}

TEST_F(FormsTest, StateElements)
{
    Outcome o = form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2) + val(CM) + num(7) + st(in_ICSET_PROGRAM_MODE, 2) +
                     val(CM) + num(-3) + st(in_ICSET_ANYCHANGE, 2) + val(CM) + num(1) + st(in_ICSET_MODIFIED, 2) +
                     val(CM) + fn(in_ICGET_PROGRAM_MODE, 1) + set(X) + val(CM) + fn(in_ICGET_ANYCHANGE, 1) + set(Y) +
                     val(CM) + fn(in_ICGET_MODIFIED, 1) + set(Z) + val(CM) + fn(in_ICGET_CURRENT_FOCUS, 1) + set(D));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(value(X), 7);  // stored without a range check
    EXPECT_EQ(value(Y), -3);
    EXPECT_EQ(value(Z), 1);
    EXPECT_EQ(value(D), 0);
    ControlMatrix_t *cm = cm_of(CM);
    record.log_level_lumbas = 0;
    EXPECT_EQ(abort_text([&] { cdisplay_cm(cm, "t"); }), "Invalid Program Mode 7");

    struct {
        std::function<void()> call;
        const char *message;
    } cases[] = {
        {[&] { cset_st_get_int(cm, 0); }, "Index into Control Matrix out of range (e): 0"},
        {[&] { cset_st_get_int(cm, 15); }, "Index into Control Matrix out of range (e): 15"},
        {[&] { cset_st_get_int(cm, 9); }, "Unexpected element 9 of cset_st_get_int"},
        {[&] { cset_st_put_int(cm, 0, 1); }, "Index into Control Matrix out of range (f): 0"},
        {[&] { cset_st_put_int(cm, CM_RET_FOCUS, 1); }, "Unexpected element 14 of cset_st_put_int"},
        {[&] { cset_st_put_int(cm, 3, 1); }, "Unexpected element 3 of cset_st_put_int"},
    };
    for (const auto &c : cases) EXPECT_EQ(abort_text(c.call), c.message);
    cset_st_put_int(cm, CM_CUR_FOCUS, 4);
    EXPECT_EQ(cset_st_get_int(cm, CM_CUR_FOCUS), 4);
}

TEST_F(FormsTest, ShowAndHideTheWindow)
{
    GtkWidget *w = issued_window();
    gtk_window_present(GTK_WINDOW(w));
    ASSERT_EQ(form(ref(CM) + number(w) + st(in_ICATTACH_WINDOW, 2) + val(CM) + st(in_ICHIDE_ALL, 1)).abort, "");
    EXPECT_FALSE(gtk_widget_get_visible(w));
    ControlMatrix_t *cm = cm_of(CM);
    delete_all_applications();
    ASSERT_EQ(form(number(cm) + st(in_ICSHOW_ALL, 1)).abort, "");
    EXPECT_TRUE(gtk_widget_get_visible(w));
    delete_all_applications();
    // Without a window system only the handle is checked; an unbound CM has nothing to show.
    Back_ground = 1;
    EXPECT_EQ(form(ref(CM2) + num(0L) + st(in_ICATTACH_WINDOW, 2) + val(CM2) + st(in_ICSHOW_ALL, 1) + val(CM2) +
                   st(in_ICHIDE_ALL, 1))
                  .abort,
              "");
}

TEST_F(FormsTest, FreeRoadRelinksAndKeepsTheNewerWindowOnTop)
{
    GtkWidget *w[3] = {issued_window(), issued_window(), issued_window()};
    ControlMatrix_t *cm[3];
    ASSERT_EQ(form(ref(CM) + number(w[0]) + st(in_ICATTACH_WINDOW, 2) + ref(CM2) + number(w[1]) +
                   st(in_ICATTACH_WINDOW, 2) + ref(X) + number(w[2]) + st(in_ICATTACH_WINDOW, 2))
                  .abort,
              "");
    cm[0] = cm_of(CM), cm[1] = cm_of(CM2), cm[2] = cm_of(X);
    record.presented_cm = cm[1];
    cmat_free_window(w[1], "other");
    EXPECT_EQ(record.first_cm, cm[0]);
    EXPECT_EQ(record.last_cm, cm[2]);
    EXPECT_EQ(cm[0]->next, cm[2]);
    EXPECT_EQ(cm[2]->prior, cm[0]);
    EXPECT_EQ(record.presented_cm, nullptr);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(w[2])), GTK_WINDOW(w[0]));
    // Freeing an unknown window does nothing; Program_name is back.
    const std::string program = Program_name;
    cmat_free_window(w[1], "other");
    EXPECT_EQ(Program_name, program);
    cmat_free_window(w[2], "other");
    EXPECT_EQ(record.last_cm, cm[0]);
    EXPECT_EQ(cm[0]->next, nullptr);
    cmat_free_window(w[0], "other");
    EXPECT_EQ(record.first_cm, nullptr);
    EXPECT_EQ(record.last_cm, nullptr);
}

TEST_F(FormsTest, AMenuParentIsNeverLeftWithoutItsWindow)
{
    ASSERT_EQ(form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    ControlMatrix_t *menu = cm_of(CM);
    menu->type = CM_WT_MENU;
    menu->window = CM_WINDOWLESS;
    ControlMatrix_t *form_cm = cset_new(&record, nullptr, 0);
    EXPECT_EQ(abort_text([&] { cmat_free_cm(form_cm); }), "Unexpected return to Menu");
    EXPECT_EQ(record.last_cm, form_cm);  // nothing was unlinked
    menu->window = nullptr;
}

TEST_F(FormsTest, DeferredMatricesWaitForTheirJob)
{
    ASSERT_EQ(form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    ControlMatrix_t *busy = cm_of(CM);
    static char job;
    busy->external_job = reinterpret_cast<ExternalJob_t *>(&job);
    ControlMatrix_t *other = cset_new(&record, nullptr, 0);
    cmat_free_cm(busy);
    EXPECT_EQ(record.first_cm, other);
    EXPECT_EQ(record.deferred_cms, busy);
    EXPECT_EQ(busy->external_job, nullptr);
    // Freeing another CM leaves the waiting one alone.
    ControlMatrix_t *third = cset_new(&record, nullptr, 0);
    cmat_free_cm(other);
    EXPECT_EQ(record.deferred_cms, busy);
    EXPECT_EQ(cmat_free_deferred(third), 0);
    // The job's end takes it off and frees it.
    EXPECT_EQ(cmat_free_deferred(busy), 1);
    EXPECT_EQ(record.deferred_cms, nullptr);
    EXPECT_EQ(record.first_cm, third);
}

TEST_F(FormsTest, FreeRoadOfManyMatricesAtTheRunsEnd)
{
    // Under the address sanitizer this shows that the run's end frees everything a CM owns.
    ASSERT_EQ(form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    const int pipe_count = 3;
    Stack no_cm{};
    no_cm.s_t = real;
    no_cm.s_c.C_N = &no_cm.num;
    for (int i = 0; i < 200; ++i) {
        GtkWidget *w = issued_window();
        ControlMatrix_t *cm = cattach_window1(&no_cm, w, 0);
        ASSERT_NE(cm, nullptr);
        cadd_field(cm, -1, "F", 0, nullptr, nullptr, nullptr, TAB_STANDARD, 1, WIDGET_BUTTON, 0);
        SubControlMatrix_t *scm = cutil_cp_stack(cm, nullptr, 0, 1, AC_COMBO_SETUP, nullptr, nullptr, 1);
        cutil_new_setup(scm, CM_FIELD_TYPE_GCOMBO, sizeof(TestRecord));
        GtkWidget *button = gtk_button_new();
        gtk_window_set_child(GTK_WINDOW(w), button);
        cfunctionkey_add(cm, button, AC_F1 + 1);
        cm->app_name = g_strdup("prog");
        cm->post_text = g_strdup("post");
        auto *scrolled = g_new0(ScrolledWindow_t, 1);
        cm->scrolled_windows = scrolled;
        if (i < pipe_count) {
            int fds[2];
            ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
            cm->pipe_read_fd = fds[0];
            close(fds[1]);
        }
    }
    static char job;
    ControlMatrix_t *deferred = record.last_cm;
    deferred->external_job = reinterpret_cast<ExternalJob_t *>(&job);
    cmat_free_cm(deferred);
    ASSERT_EQ(record.deferred_cms, deferred);
    run_hook(CoreHook::free_control_matrices);
    EXPECT_EQ(record.first_cm, nullptr);
    EXPECT_EQ(record.last_cm, nullptr);
    EXPECT_EQ(record.deferred_cms, nullptr);
}

TEST_F(FormsTest, CursorsOfAWindowlessMatrixOnlyKeepTheFlag)
{
    ASSERT_EQ(form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    cm->busy = 0;
    ccursor_set_busy(cm, 0);
    EXPECT_EQ(cm->busy, 1);
    ccursor_set_standard(cm);
    EXPECT_EQ(cm->busy, 1);  // no window: nothing to restore
    ccursor_set_inactive(cm);

    GtkWidget *w = issued_window();
    ControlMatrix_t *shown = cset_new(&record, w, 0);
    ccursor_set_standard(shown);
    EXPECT_EQ(shown->busy, 0);
    EXPECT_STREQ(gdk_cursor_get_name(gtk_widget_get_cursor(w)), "default");
    ccursor_set_busy(shown, GDK_KEY_Control_L);
    EXPECT_STREQ(gdk_cursor_get_name(gtk_widget_get_cursor(w)), "wait");
    ccursor_set_inactive(shown);
    EXPECT_STREQ(gdk_cursor_get_name(gtk_widget_get_cursor(w)), "not-allowed");
    EXPECT_EQ(shown->busy, 1);
}

TEST_F(FormsTest, EndOfEventDestroysClosingWindowsNewestFirst)
{
    ASSERT_EQ(form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    cmat_free_all();
    static std::vector<GtkWidget *> destroyed;
    destroyed.clear();
    GtkWidget *w[4];
    ControlMatrix_t *cm[4];
    for (int i = 0; i < 4; ++i) {
        w[i] = issued_window();
        cm[i] = cset_new(&record, w[i], 0);
        // The window constructor's destroy handler frees the CM of its window.
        g_signal_connect(w[i], "destroy", G_CALLBACK(+[](GtkWidget *window, gpointer) {
                             destroyed.push_back(window);
                             cmat_free_window(window, "prog");
                             // An end of event asked for from inside one does nothing.
                             ccallbacks_finish_event(1, 1);
                         }),
                         nullptr);
    }
    ControlMatrix_t *unbound = cset_new(&record, nullptr, 0);
    cm[1]->closing = cm[3]->closing = unbound->closing = 1;
    ccallbacks_finish_event(1, 1);
    EXPECT_EQ(destroyed, (std::vector<GtkWidget *>{w[3], w[1]}));
    EXPECT_EQ(record.first_cm, cm[0]);
    EXPECT_EQ(record.last_cm, cm[2]);
    EXPECT_EQ(cm[0]->next, cm[2]);
    EXPECT_EQ(record.presented_cm, cm[2]);
    EXPECT_EQ(record.finishing_event, 0);
    // Without the destroy flag nothing goes; the newest is presented once.
    cm[2]->closing = 1;
    record.presented_cm = nullptr;
    ccallbacks_finish_event(0, 0);
    EXPECT_EQ(record.last_cm, cm[2]);
    EXPECT_EQ(record.presented_cm, cm[2]);
}

TEST_F(FormsTest, KeyAndClickEntryPointsNeverStopInsideGtk)
{
    ASSERT_EQ(form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    // A handler's stop never crosses GTK's frames: the main loop stops and hands it on.
    const auto stop_in_loop = [&](GSourceOnceFunc handler) {
        g_idle_add_once(handler, nullptr);
        return abort_text([] { igtk_main(0, 0); });
    };
    // A key on no form's widget is left to GTK and ends the event.
    g_idle_add_once([](gpointer) {
        EXPECT_FALSE(on_key_press_event(nullptr, GDK_KEY_a, 0, GdkModifierType(0), global_data));
        igtk_main_quit();
    }, nullptr);
    EXPECT_EQ(abort_text([] { igtk_main(0, 0); }), "");
    // Tab with no form to leave is a program error, handed on after the loop.
    EXPECT_EQ(stop_in_loop([](gpointer) { on_key_press_event(nullptr, GDK_KEY_Tab, 0, GdkModifierType(0), global_data); }),
              "No Control Matrix found for the window of the key");
    // So is a click on a widget of no form's window.
    EXPECT_EQ(stop_in_loop([](gpointer) {
                  GtkGesture *click = gtk_gesture_click_new();
                  on_button_press_event(GTK_GESTURE_CLICK(click), 1, 0, 0, global_data);
                  g_object_unref(click);
              }),
              "Widget not found in the Process Control Matrix (k)");
}

TEST_F(FormsTest, SoftKeySlots)
{
    ASSERT_EQ(form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    cfunctionkey_delete(cm);  // none: nothing to do
    struct {
        std::uint32_t code;
        int slot;
    } keys[] = {{AC_ESCAPE, 0}, {51, 1}, {53, 3}, {AC_SCREEN_CAPTURE, 4}, {55, 5}, {62, 12}, {54, -1}};
    std::vector<GtkWidget *> buttons;
    for (const auto &k : keys) {
        GtkWidget *b = gtk_button_new();
        g_object_ref_sink(b);
        buttons.push_back(b);
        cfunctionkey_add(cm, b, k.code);
    }
    // The same button again: one element, at the end, with the second code.
    cfunctionkey_add(cm, buttons[1], 52);
    int n = 0;
    for (FunctionKey_t *k = cm->function_keys; k; k = k->next, ++n)
        if (!k->next) {
            EXPECT_EQ(k->button, buttons[1]);
            EXPECT_EQ(k->action_code, 52u);
        }
    EXPECT_EQ(n, 7);
    int flags[CM_SOFT_KEYS] = {};
    cfunctionkey_set(cm, flags);
    for (std::size_t i = 0; i < buttons.size(); ++i)
        EXPECT_EQ(gtk_widget_get_sensitive(buttons[i]), keys[i].slot < 0) << keys[i].code;
    flags[2] = flags[12] = 1;
    cfunctionkey_set(cm, flags);
    EXPECT_TRUE(gtk_widget_get_sensitive(buttons[1]));  // now F2
    EXPECT_TRUE(gtk_widget_get_sensitive(buttons[5]));
    EXPECT_FALSE(gtk_widget_get_sensitive(buttons[0]));
    cfunctionkey_delete(cm);
    EXPECT_EQ(cm->function_keys, nullptr);
    for (GtkWidget *b : buttons) g_object_unref(b);
}

TEST_F(FormsTest, WindowPipeIsClosedOnce)
{
    ASSERT_EQ(form(ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    cm->pipe_read_fd = fds[0];
    cm->sem_id = 5;
    cipc_release(cm);
    EXPECT_EQ(cm->pipe_read_fd, -1);
    EXPECT_EQ(cm->sem_id, -1);
    EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);  // closed
    cipc_release(cm);                        // nothing open any more
    EXPECT_EQ(cm->pipe_read_fd, -1);
    // A descriptor that is not open cannot be closed.
    int gone = fds[1];
    close(gone);
    EXPECT_EQ(abort_text([&] { cipc_close_pipe_for_reading(&gone); }),
              "Error 9 occurred when attempting to close read end of pipe");
    EXPECT_EQ(gone, -1);
}

TEST_F(FormsTest, MainLoop)
{
    // With nothing pending an iteration returns at once.
    lumba_test::drain();
    ASSERT_EQ(form(st(in_IGTK_MAIN_ITERATION, 0)).abort, "");
    delete_all_applications();
    // IGTK_MAIN runs until a quit, and runs again afterwards.
    for (int round = 0; round < 2; ++round) {
        g_timeout_add_once(10, [](gpointer) { igtk_main_quit(); }, nullptr);
        ASSERT_EQ(form(st(in_IGTK_MAIN, 0) + num(1) + set(X)).abort, "");
        EXPECT_EQ(value(X), 1);
        EXPECT_FALSE(igtk_main_running());
        delete_all_applications();
    }
    // A run nested inside a handler shares the running state: one quit ends both.
    static int nested_returned;
    nested_returned = 0;
    g_idle_add_once(
        [](gpointer) {
            g_timeout_add_once(10, [](gpointer) { igtk_main_quit(); }, nullptr);
            igtk_main(0, 0);
            ++nested_returned;
        },
        nullptr);
    ASSERT_EQ(form(st(in_IGTK_MAIN, 0)).abort, "");
    EXPECT_EQ(nested_returned, 1);
    // Quitting a loop that does not run changes nothing.
    igtk_main_quit();
    EXPECT_FALSE(igtk_main_running());
}
