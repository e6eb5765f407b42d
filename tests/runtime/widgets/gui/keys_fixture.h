// A fixture for keys, Enter, the end of an event and window closing, in-process on a private X
// server: a form of input, date, check box and label fields from their constructors and a button
// field on a GtkButton, with routines (zasm) that log what they get and answer from a COMMON cell
// the test sets; keys go through the dispatcher as a key controller calls it, and dialogs are
// answered by a script.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ccallback.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "ckeys.h"
#include "common_block.h"
#include "routine_fixture.h"
#include "typed_fields_fixture.h"

using namespace forms_test;
using namespace typed_test;
using routine_test::attach;

namespace keys_test {

// Field indexes of the form.
enum Field { KEY = 1, PLAIN, DATE, BOX, LABEL, BUTTON, ANY, FIELDS = ANY };

inline constexpr unsigned NUM_LOCK = 0x10;  // what X reports on every key while Num Lock is on

// Routines of the closing tests, numbered after the routine fixture's (routines are numbered in
// order of first mention: main, then each head of the text).
//   asker (cm, ind, IP, IP$): asks "Sure?" (IGDIALOG), logs "asked"; answers 1.
//   opener (cm, ind, IP, IP$): ICDELETE_WINDOW(cm), then a new window (COMMON cell 2) attached to a
//   new CM (cell 3, emptied first), then asks as asker does (the answer into cell 2) and logs
//   "opened"; answers 1.
inline const std::string closing_routines = [] {
    const std::string params = "CM 0 0 0x8012 0 1 -\nIND 0 0 0x8012 0 2 -\nIP 0 0 0x8012 0 3 -\n"
                               "IP$ 40 0 0x8014 0 4 -\n__END_ROUTINE__\n.end\n";
    const std::string ask = str("Sure?") + str("_Yes") + str("_No") + fn(in_IGDIALOG, 3) + "storrd I:44 I:0 I:0 I:0 I:0\n";
    auto log = [](const char *text) { return num(0L) + str(text) + st(in_IMLOG, 2); };
    return ".nfunc r:asker I:0 I:0 I:0 I:0 I:0 I:4\n" + ask + log("asked") + num(1) + "exitv\n" +
           ".nfunc r:opener I:0 I:0 I:0 I:0 I:0 I:4\n" + "loadrvi I:0 I:0 I:1 I:0 I:0 I:0\n" +
           st(in_ICDELETE_WINDOW, 1) + str("a") + fn(in_IGWIN_NEW, 1) + "storrd I:44 I:0 I:0 I:0 I:0\n" + num(0L) +
           "storrd I:66 I:0 I:0 I:0 I:0\n" + "loadrad I:66 I:0 I:0 I:0 I:0\n" + "loadrvd I:44 I:0 I:0 I:0 I:0\n" +
           st(in_ICATTACH_WINDOW, 2) + ask + log("opened") + num(1) + "exitv\n" + "symtab\n__ROUTINE__ asker 4\n" + params +
           "symtab\n__ROUTINE__ opener 4\n" + params;
}();
// The number of the first of them: one after main and the routine fixture's.
inline int first_closing_routine()
{
    int heads = 0;
    for (std::size_t at = 0; (at = routine_test::routines.find(" r:", at)) != std::string::npos; ++at) ++heads;
    return 1 + heads;
}
inline const int ASKER = first_closing_routine(), OPENER = ASKER + 1;

} // namespace keys_test

using namespace keys_test;

class KeysTest : public TypedFieldsTest {
protected:
    void SetUp() override
    {
        TypedFieldsTest::SetUp();
        record.log_level_basic = 0;
    }

    // The form, with Pre_Focus (logs "pre <ind>") and Post_Focus (logs "probe ...", answers cell
    // 0) on the whole window, then extra; routines are the program's other routines (by default the
    // routine fixture's and the closing tests').
    void build(const std::string &extra = "", bool post = true,
               const std::string &routines = routine_test::routines + closing_routines)
    {
        button = keep(gtk_button_new_with_label("Go"));
        handle_issue_widget(button);
        Add b;
        b.entry = number(button);
        b.type = num(WIDGET_BUTTON);
        b.name = str("BT");
        const std::string body =
            routine_test::common + window_form() + add_field(input(KEY, 0, 10, "s"), WIDGET_INPUT, TAB_KEY, "A") +
            add_field(input(PLAIN, 0, 10, "s"), WIDGET_INPUT, TAB_STANDARD, "B") +
            add_field(date(DATE, 0), WIDGET_DATE, TAB_STANDARD, "D") +
            add_field(checkbox(BOX), WIDGET_CHECKBOX, TAB_STANDARD, "C") +
            add_field(typed_test::label(LABEL, 1, 0, "label"), WIDGET_LABEL, TAB_NO_FOCUS, "L") + b.text() +
            add_field(input(ANY, 0, 10, "s"), WIDGET_INPUT, TAB_ANYCHANGE, "AC") +
            attach(CM, "Pre_Focus", routine_test::COUNTER, 0) +
            (post ? attach(CM, "Post_Focus", routine_test::PROBE, 0) : "") + extra;
        cmat_free_all();
        ASSERT_EQ(form(body, routines).abort, "");
        gtk_box_append(GTK_BOX(handle_widget(static_cast<std::uintptr_t>(handle(Y)))), button);
        for (int i = 1; i <= FIELDS; ++i) cset_cm_put_int(cm(), CM_PROMPT, i, i <= BOX ? i : 0);
        answer(1);
        set_text(KEY, "k");
    }

    void answer(long v) { NumericCvLONG(v, &static_cast<dec_t *>(Common_variables)[0]); }
    void focus(int index)
    {
        cmat_set_focus_index(cm(), index);
        cinvoke_pre_display(cm());
    }
    GtkWidget *widget_of(int index)
    {
        return index == 0 ? cm()->window : cget_widget_for_widget(cm_field(cm(), index).entry);
    }

    struct Pressed {
        gboolean taken = FALSE;
        std::string abort;
        std::vector<std::string> logged;  // IMLOG lines of the routines
        std::vector<std::string> lines;   // every log line
    };
    // Runs work with the log captured.
    Pressed capture(const std::function<void()> &work)
    {
        Pressed p;
        testing::internal::CaptureStderr();
        p.abort = lumba_test::abort_text([&] {
            work();
            forms_rethrow_kept();
        });
        p.lines = log_lines(testing::internal::GetCapturedStderr());
        for (const std::string &l : p.lines)
            if (l.rfind("B ", 0) == 0) p.logged.push_back(l.substr(2));
        return p;
    }
    // A key on field index (0: the window) through the dispatcher, as its key controller calls it.
    Pressed press(int index, guint keyval, unsigned state = 0) { return press_on(widget_of(index), keyval, state); }
    Pressed press_on(GtkWidget *widget, guint keyval, unsigned state = 0)
    {
        gboolean taken = FALSE;
        Pressed p = capture([&] { taken = dispatch(widget, keyval, state); });
        p.taken = taken;
        return p;
    }
    // The same without capturing the log (for a key pressed while a routine waits in a dialog).
    gboolean dispatch(GtkWidget *widget, guint keyval, unsigned state = 0)
    {
        GtkEventController *keys = gtk_event_controller_key_new();
        gtk_widget_add_controller(widget, keys);
        // GTK holds a controller while it handles its event: a key that closes the window frees
        // the widget's controllers only afterwards.
        g_object_ref(keys);
        const gboolean taken =
            on_key_press_event(GTK_EVENT_CONTROLLER_KEY(keys), keyval, 0, GdkModifierType(state), &record);
        g_object_unref(keys);
        return taken;
    }
    // Types text into field index as a user does while it is edited; the field keeps the focus.
    void set_text(int index, const char *text)
    {
        focus(index);
        gtk_editable_set_text(GTK_EDITABLE(widget_of(index)), "");
        type(widget_of(index), text);
    }
    static int calls(const Pressed &p)
    {
        int n = 0;
        for (const std::string &l : p.lines) n += l.find("Call 'basic' function") != std::string::npos;
        return n;
    }

    GtkWidget *button = nullptr;
};

