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

#include "routine_fixture.h"
#include "typed_fields_fixture.h"

using namespace forms_test;
using namespace typed_test;
using routine_test::attach;

namespace keys_test {

// Field indexes of the form.
enum Field { KEY = 1, PLAIN, DATE, BOX, LABEL, BUTTON, ANY, FIELDS = ANY };

inline constexpr unsigned NUM_LOCK = 0x10;  // what X reports on every key while Num Lock is on

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
    // 0) on the whole window, then extra; routines are the program's other routines.
    void build(const std::string &extra = "", bool post = true, const std::string &routines = routine_test::routines)
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
        GtkEventController *keys = gtk_event_controller_key_new();
        gtk_widget_add_controller(widget, keys);
        gboolean taken = FALSE;
        Pressed p = capture([&] {
            taken = on_key_press_event(GTK_EVENT_CONTROLLER_KEY(keys), keyval, 0, GdkModifierType(state), &record);
        });
        p.taken = taken;
        return p;
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

