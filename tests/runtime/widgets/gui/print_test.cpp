// Field parts in-process: showing and hiding them, writing text into them (escaped or as mark-up,
// numbers by the field's format, dates by the date field), window titles and tooltips, and the
// argument checks of these intrinsics as one table.
#include "gui_env.h"
#include "widgets_fixture.h"

using namespace forms_test;
using namespace widgets_test;

namespace {

GtkWidget *widget_at(long handle) { return reinterpret_cast<GtkWidget *>(handle); }

std::string label_into(Numeric v, const std::string &text = "L") { return str(text) + fn(in_IGLABEL_SIMPLE_NEW, 1) + set(v); }

// A form W/CM with content box Y; in it a row E holding the prompt L, the entry D and the
// description E2 (three labels) of field 1, "F".
std::string field_form(const std::string &entry_kind = "", int type = 3)
{
    const std::string pack = [] {
        std::string t;
        for (Numeric v : {L, D, E2})
            t += val(E) + val(v) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) + num(0L) +
                 st(in_IGHBOX_PACK, 9);
        return t;
    }();
    Add a;
    a.label = val(L);
    a.entry = val(D);
    a.description = val(E2);
    a.type = num(type);
    return window_of("a", W) + attach(CM, W) + val(W) + fn(in_IGVBOX_NEW, 1) + set(Y) + val(Y) + num(0L) +
           fn(in_IGHBOX_NEW, 2) + set(E) + label_into(L, "Prompt") + label_into(E2, "Description") +
           (entry_kind.empty() ? label_into(D, "Entry") : entry_kind) + pack + a.text();
}

std::string print(const std::string &part, const std::string &value, int code = in_IGPRINT)
{
    return val(CM) + str(part) + num(1) + value + st(code, 4);
}

} // namespace

TEST_F(WidgetsTest, ShowAndHideFieldParts)
{
    const std::string body = field_form() + val(E) + st(in_IGHIDE, 1) + val(CM) + str("prompt") + num(1) +
                             st(in_IGWSHOW, 3) + val(CM) + str("entry") + str("F") + st(in_IGWHIDE, 3) + val(CM) +
                             str("entry  ") + num(1) + st(in_IGWHIDE, 3);
    ASSERT_EQ(form(body).abort, "");
    EXPECT_TRUE(gtk_widget_get_visible(widget_at(handle(L))));
    EXPECT_TRUE(gtk_widget_get_visible(widget_at(handle(E)))) << "a part inside a hidden box shows the box too";
    EXPECT_FALSE(gtk_widget_get_visible(widget_at(handle(D)))) << "hidden by name, and hiding again changes nothing";
    // "all" is the prompt's container.
    ASSERT_EQ(form(field_form() + val(CM) + str("all") + num(1) + st(in_IGWHIDE, 3)).abort, "");
    EXPECT_FALSE(gtk_widget_get_visible(widget_at(handle(E))));
    EXPECT_TRUE(gtk_widget_get_visible(widget_at(handle(L))));
    // A record part stands for its container.
    const std::string record = ref(CM) + num(1) + num(CM_FIELD_TYPE_GLABEL) + fn(in_IGCOMBO_NEW, 3) + set(D);
    ASSERT_EQ(form(field_form(record, WIDGET_LABEL) + val(CM) + str("entry") + num(1) + st(in_IGWHIDE, 3)).abort, "");
    EXPECT_FALSE(gtk_widget_get_visible(static_cast<TestRecord *>(reinterpret_cast<void *>(handle(D)))->widget));
    // IGSHOW, IGHIDE and IGWSIMPLESHOW on widgets and records.
    ASSERT_EQ(form(field_form(record, WIDGET_LABEL) + val(E) + st(in_IGHIDE, 1) + val(D) + st(in_IGWSIMPLESHOW, 1)).abort, "");
    EXPECT_TRUE(gtk_widget_get_visible(widget_at(handle(E))));
    ASSERT_EQ(form(field_form() + val(E) + st(in_IGHIDE, 1) + val(L) + st(in_IGSHOW, 1)).abort, "");
    EXPECT_TRUE(gtk_widget_get_visible(widget_at(handle(E))));
    // No prompt: "all" has nothing to stand for.
    Add bare;
    const Outcome o = form(window_of("a", W) + attach(CM, W) + bare.text() + val(CM) + str("all") + num(1) + st(in_IGWSHOW, 3));
    EXPECT_EQ(o.abort, "Must have Prompt Label");
}

TEST_F(WidgetsTest, PrintEscapesOrTakesMarkUpAndDropsTrailingBlanks)
{
    const std::string body = field_form() + print("prompt", str("a<b & c/d   ")) +
                             print("des", str("<b>Bold</b>"), in_IGPRINT_NOT_ESCAPED) +
                             print("entry", str("<b>oops"), in_IGPRINT_NOT_ESCAPED);
    ASSERT_EQ(form(body).abort, "");
    GtkLabel *prompt = GTK_LABEL(widget_at(handle(L))), *des = GTK_LABEL(widget_at(handle(E2)));
    EXPECT_STREQ(gtk_label_get_text(prompt), "a<b & c/d") << "shown literally";
    EXPECT_STREQ(gtk_label_get_label(prompt), "a&lt;b &amp; c&#47;d");
    EXPECT_STREQ(gtk_label_get_text(des), "Bold");
    EXPECT_TRUE(gtk_label_get_use_markup(des));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(widget_at(handle(D)))), "<b>oops") << "no mark-up: shown as it is";
    ASSERT_EQ(form(field_form() + print("prompt", str("    "))).abort, "");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(widget_at(handle(L)))), "") << "blanks only: cleared";

    // Bold mark-up is drawn bold: more ink than the same text plain.
    const std::string same = "WWWWW MMMMM";
    ASSERT_EQ(form(field_form() + print("prompt", str(same)) + print("des", str("<b>" + same + "</b>"), in_IGPRINT_NOT_ESCAPED)).abort,
              "");
    const int plain = drawn(widget_at(handle(L))).dark_pixels();
    const int bold = drawn(widget_at(handle(E2))).dark_pixels();
    EXPECT_GT(plain, 50);
    EXPECT_GT(bold, plain + plain / 10) << plain << " plain, " << bold << " bold";
}

TEST_F(WidgetsTest, PrintGoesToEachKindOfEntry)
{
    // A button entry takes the text as its label.
    ASSERT_EQ(form(field_form(fn(in_IGBUTTON_NEW, 0) + set(D)) + print("entry", str("Go  "))).abort, "");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(widget_at(handle(D)))), "Go");
    // A label record stands for its label; a text record for its text view, written by its kind.
    const std::string label_record = ref(CM) + num(1) + num(CM_FIELD_TYPE_GLABEL) + fn(in_IGCOMBO_NEW, 3) + set(D);
    ASSERT_EQ(form(field_form(label_record, WIDGET_LABEL) + print("entry", str("x<y"))).abort, "");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(static_cast<TestRecord *>(reinterpret_cast<void *>(handle(D)))->label)), "x<y");
    const std::string text_record = ref(CM) + num(1) + num(CM_FIELD_TYPE_GTEXT) + fn(in_IGCOMBO_NEW, 3) + set(D);
    ASSERT_EQ(form(field_form(text_record, WIDGET_TEXT) + print("entry", str("line one  "))).abort, "");
    EXPECT_EQ(calls().back(), "write text record line one");
    // An input field's GtkText through the input kind; a date field's through the date kind, in
    // its display form.
    calls().clear();
    const std::string input = ref(CM) + num(1) + fn(in_IGINPUT_NEW, 2) + set(D);
    ASSERT_EQ(form(field_form(input, WIDGET_INPUT) + print("entry", str("Hello "))).abort, "");
    const std::string date = ref(CM) + num(1) + fn(in_IGDATE_NEW, 2) + set(D);
    ASSERT_EQ(form(field_form(date, WIDGET_DATE) + print("entry", str("2024-03-01"))).abort, "");
    EXPECT_EQ(calls(), (std::vector<std::string>{"write input Hello", "write date display(2024-03-01)"}));
    EXPECT_EQ(form(field_form(date, WIDGET_DATE) + print("entry", str("x"), in_IGPRINT_NOT_ESCAPED)).abort,
              "igprint_not_escaped not implemented for Widget Types Date and Input");
    EXPECT_EQ(form(field_form(text_record, WIDGET_TEXT) + print("entry", str("x"), in_IGPRINT_NOT_ESCAPED)).abort,
              "Unexpected widget type encountered 12");
}

TEST_F(WidgetsTest, PrintNumbersByTheFieldsFormat)
{
    // The record of field 1 answers its format and length from the test's tables.
    const std::string input = ref(CM) + num(1) + fn(in_IGINPUT_NEW, 2) + set(D);
    struct Case {
        std::string kind;  // makes the entry into D
        int type;
        std::string format;
        int length;
        std::string abort, shown;
    } cases[] = {
        {input, WIDGET_INPUT, "m12", 12, "", "write input fmt(1234.5,m12,12)"},
        {input, WIDGET_INPUT, "n", 0, "", "write input fmt(1234.5,n,11)"},  // no length: 6 + 6/3 + 3
        {input, WIDGET_INPUT, "c", 0,
         "Only permitted to provide a numeric parameter to igprint for a field of type Input or Label, and format n "
         "or m; Index = 1; Tab Sequence = 1, Format = c",
         ""},
        {ref(CM) + num(1) + num(CM_FIELD_TYPE_GLABEL) + fn(in_IGCOMBO_NEW, 3) + set(D), WIDGET_LABEL, "m", 40, "",
         "fmt(1234.5,m,11)"},  // a label ignores any length
        {label_into(D), 3, "m", 0,
         "Only permitted to provide a numeric parameter to igprint for a field of type Input or Label, and format n "
         "or m; Index = 1; Tab Sequence = 3",
         ""},
    };
    for (const Case &c : cases) {
        calls().clear();
        formats().clear();
        lengths().clear();
        // The program makes the record; the test gives it its format, and a second program prints.
        ASSERT_EQ(form(field_form(c.kind, c.type)).abort, "");
        ControlMatrix_t *cm = cm_of(CM);
        void *setup = c.type == WIDGET_INPUT ? ginput_get_mintype(cm, 1) : c.type == WIDGET_LABEL ? glabel_get_type(cm, 1) : nullptr;
        if (setup) {
            formats()[setup] = c.format;
            lengths()[setup] = c.length;
        }
        const Outcome o = form(number(cm) + set(CM) + print("entry", num("1234.5")));
        EXPECT_EQ(o.abort, c.abort) << c.format;
        if (!c.abort.empty()) continue;
        if (c.type == WIDGET_INPUT) {
            ASSERT_FALSE(calls().empty());
            EXPECT_EQ(calls().back(), c.shown);
        } else {
            auto *r = static_cast<TestRecord *>(setup);
            EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(r->label)), c.shown.c_str());
        }
    }
    // A number never goes into a prompt.
    EXPECT_EQ(form(field_form() + print("prompt", num(5))).abort,
              "Only permitted to provide a numeric parameter to igprint for a field of type Input or Label, and format "
              "n or m; Index = 1; Tab Sequence = 3");
}

TEST_F(WidgetsTest, WindowTitlesAreCutAtACharacterBoundary)
{
    std::string accented;
    for (int i = 0; i < 1500; ++i) accented += "\xc3\xa9";  // 3000 bytes of two-byte characters
    ASSERT_EQ(form(window_of("a", W) + val(W) + str("Invoices") + st(in_IGPRINT_TITLE, 2)).abort, "");
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(widget_at(handle(W)))), "Invoices");
    ASSERT_EQ(form(window_of("a", W) + val(W) + str(accented) + st(in_IGPRINT_TITLE, 2)).abort, "");
    const std::string title = gtk_window_get_title(GTK_WINDOW(widget_at(handle(W))));
    EXPECT_EQ(title.size(), 2046u);
    EXPECT_TRUE(g_utf8_validate(title.c_str(), -1, nullptr));
    ASSERT_EQ(form(window_of("a", W) + val(W) + str(std::string(3000, 'T')) + st(in_IGPRINT_TITLE, 2)).abort, "");
    EXPECT_EQ(std::string(gtk_window_get_title(GTK_WINDOW(widget_at(handle(W))))).size(), 2047u);
    const Outcome o = form(field_form() + val(Y) + str("x") + st(in_IGPRINT_TITLE, 2));
    EXPECT_EQ(o.abort, "Invalid widget handle " + hex(reinterpret_cast<void *>(handle(Y))));
}

TEST_F(WidgetsTest, TooltipsOnFieldParts)
{
    const std::string record = ref(CM) + num(1) + num(CM_FIELD_TYPE_GCHECKBOX) + fn(in_IGCOMBO_NEW, 3) + set(D);
    const auto tip = [](const std::string &part, const std::string &text) {
        return val(CM) + num(1) + str(part) + num(0L) + str(text) + st(in_IGTOOLTIP_SET, 5);
    };
    ASSERT_EQ(form(field_form(record, WIDGET_CHECKBOX) + tip("prompt", "Who  ") + tip("entry", "Tick it") +
                   tip("des", "Shown") + tip("all", "The row"))
                  .abort,
              "");
    EXPECT_STREQ(gtk_widget_get_tooltip_text(widget_at(handle(L))), "Who");
    EXPECT_STREQ(gtk_widget_get_tooltip_text(static_cast<TestRecord *>(reinterpret_cast<void *>(handle(D)))->widget), "Tick it");
    EXPECT_STREQ(gtk_widget_get_tooltip_text(widget_at(handle(E2))), "Shown");
    EXPECT_STREQ(gtk_widget_get_tooltip_text(widget_at(handle(E))), "The row");
}

TEST_F(WidgetsTest, ArgumentsOfShowPrintAndTooltipIntrinsics)
{
    const std::string f = field_form();
    const std::string bare_form = window_of("a", W) + attach(CM, W) + Add().text();
    struct Case {
        std::string body, message;  // a message ending in a blank is the beginning of the text
    } cases[] = {
        {f + val(CM) + str("prompt") + st(in_IGWSHOW, 2), "Invalid number of parameters"},
        {f + num(0L) + str("prompt") + num(1) + st(in_IGWSHOW, 3), "No Process Control Matrix found"},
        {f + val(CM) + str("label") + num(1) + st(in_IGWHIDE, 3),
         "Invalid widget type; Expecting 'all', 'prompt', 'entry' or 'des'"},
        {f + val(CM) + str("Prompt") + num(1) + st(in_IGWHIDE, 3),
         "Invalid widget type; Expecting 'all', 'prompt', 'entry' or 'des'"},
        {f + val(CM) + str("entry") + num(7) + st(in_IGWHIDE, 3), "Invalid Control Matrix index (b): 7 @ cset_cm_get_ptr"},
        {f + val(CM) + str("entry") + str("Nope") + st(in_IGWHIDE, 3), "Field name 'Nope' not found in the Control Matrix "},
        {f + val(CM) + str("entry") + num(1) + st(in_IGPRINT, 3), "Invalid number of parameters to gprint"},
        {f + num(0L) + str("entry") + num(1) + str("x") + st(in_IGPRINT, 4), "Process Control Matrix not found"},
        {f + print("all", str("x")), "Invalid widget type; Expecting 'prompt', 'entry' or 'des'"},
        {bare_form + print("des", str("x")), "No widget found for field 'des', index 1"},
        {f + val(CM) + str("entry") + num(1) + st(in_IGPRINT_NOT_ESCAPED, 3), "Invalid number of parameters"},
        {f + num(0L) + str("entry") + num(1) + str("x") + st(in_IGPRINT_NOT_ESCAPED, 4), "No Process Control Matrix found"},
        {f + print("entry", num(1), in_IGPRINT_NOT_ESCAPED), "Invalid data type to fourth parameter"},
        {f + val(CM) + num(1) + str("entry") + num(0L) + st(in_IGTOOLTIP_SET, 4), "Wrong number of parameters 4"},
        {f + num(0L) + num(1) + str("entry") + num(0L) + str("t") + st(in_IGTOOLTIP_SET, 5), "No Process Control Matrix found"},
        {f + val(CM) + num(1) + str("row") + num(0L) + str("t") + st(in_IGTOOLTIP_SET, 5),
         "Invalid widget type; Expecting 'prompt', 'entry', 'des', or 'all'"},
        {f + val(CM) + num(1) + str("entry") + num(1) + str("t") + st(in_IGTOOLTIP_SET, 5),
         "Item 1 must be zero. Other values not yet coded"},
        {bare_form + val(CM) + num(1) + str("all") + num(0L) + str("t") + st(in_IGTOOLTIP_SET, 5),
         "Must provide a Prompt, even if it is just a blank"},
        {st(in_IGSHOW, 0), "Invalid number of parameters to igshow"},
        {num(1) + num(1) + st(in_IGHIDE, 2), "Invalid number of parameters to ighide"},
        {st(in_IGWSIMPLESHOW, 0), "Invalid number of parameters"},
        {num(1) + st(in_IGPRINT_TITLE, 1), "Invalid number of parameters"},
    };
    for (const Case &c : cases) {
        const Outcome o = form(c.body);
        if (c.message.back() == ' ')
            EXPECT_EQ(o.abort.rfind(c.message, 0), 0u) << o.abort;
        else
            EXPECT_EQ(o.abort, c.message);
    }
}
