// Field rows in-process: ICADD's checks and binding of field records, renumbering on insertion and
// removal, element access and lookups, stale handles and the sensitivity from the Enabled flags.
#include <cstdio>
#include <functional>

#include "forms_fixture.h"

using namespace forms_test;
using lumba_test::abort_text;

namespace {


// A widget handed out and disposed of since (its memory is kept, so its address stays unused).
GtkWidget *disposed_widget()
{
    GtkWidget *w = gtk_button_new();
    g_object_ref_sink(w);
    handle_issue_widget(w);
    g_object_run_dispose(G_OBJECT(w));
    static std::vector<GtkWidget *> kept;
    kept.push_back(w);
    return w;
}

const std::string new_cm = ref(CM) + num(0L) + st(in_ICATTACH_WINDOW, 2);
// A field record of kind under its internal code for index, its handle into v.
std::string record_into(Numeric v, int index, int kind) { return val(CM) + num(index) + num(kind) + fn(in_IGCOMBO_NEW, 3) + set(v); }
std::string button_into(Numeric v) { return fn(in_IGBUTTON_NEW, 0) + set(v); }
// ICADD of a button row named name after `after`.
std::string row(int after, const std::string &name, int prompt = 0)
{
    Add a;
    a.index = num(after);
    a.name = str(name);
    a.prompt = num(prompt);
    return a.text();
}
std::string row_with_entry(int after, Numeric entry, int type)
{
    Add a;
    a.index = num(after);
    a.entry = val(entry);
    a.type = num(type);
    return a.text();
}
std::string attach(const char *code, int index, int routine = 2)
{
    return str(code) + num(routine) + val(CM) + num(index) + st(in_ICATTACH_FUN, 4);
}

} // namespace

TEST_F(FormsTest, AddChecksEverythingBeforeAnyChange)
{
    const std::string gone = number(disposed_widget());
    struct {
        std::function<void(Add &)> change;
        std::string message;
    } cases[] = {
        {[](Add &a) { a.prompt = num(-1); }, "Invalid prompt number -1 at index -1 field F"},
        {[](Add &a) { a.prompt = num(10001); a.index = num(-7); }, "Invalid prompt number 10001 at index -7 field F"},
        {[](Add &a) { a.index = num(-2); a.name = str("Named  "); a.prompt = num(4); }, "Invalid index -2 at field Named prompt 4"},
        {[](Add &a) { a.index = num(10001); }, "Invalid index 10001 at field F prompt 0"},
        {[](Add &a) { a.label = num(12345); }, "Invalid pointer to the label field at index -1 field F prompt 0"},
        {[](Add &a) { a.label = val(E2); }, "Invalid pointer to the label field at index -1 field F prompt 0"},
        {[](Add &a) { a.entry = num(12345); }, "Invalid pointer to the entry field at index -1 field F prompt 0"},
        {[](Add &a) { a.entry = num(10000); }, "Invalid pointer to the entry field at index -1 field F prompt 0"},
        {[](Add &a) { a.entry = val(D); }, "Invalid pointer to the entry field at index -1 field F prompt 0"},
        {[](Add &a) { a.description = num(99999); }, "Invalid pointer to the description field at index -1 field F prompt 0"},
        {[](Add &a) { a.description = val(E2); }, "Invalid pointer to the description field at index -1 field F prompt 0"},
        {[](Add &a) { a.tab = num(0L); }, "Invalid Tab Sequence Type 0 at index -1 field F prompt 0"},
        {[](Add &a) { a.tab = num(9); }, "Invalid Tab Sequence Type 9 at index -1 field F prompt 0"},
        {[](Add &a) { a.enabled = num(2); }, "Invalid Enabled flag 2 at index -1 field F prompt 0"},
        {[](Add &a) { a.type = num(13); }, "Invalid Widget Type 13 at index -1 field F prompt 0"},
        {[](Add &a) { a.type = num(0L); a.valid = num(5); }, "Invalid Widget Type 0 at index -1 field F prompt 0"},
        {[](Add &a) { a.valid = num(-1); }, "Invalid Validation flag -1 at index -1 field F prompt 0"},
        {[](Add &a) { a.index = num(2); }, "Insertion index not valid"},
    };
    for (const auto &c : cases) {
        Add bad;
        c.change(bad);
        // One row is there; E2 is a field record, D a widget that has gone.
        Outcome o = form(new_cm + row(-1, "A") + record_into(E2, 5, CM_FIELD_TYPE_GCOMBO) + gone + set(D) + bad.text());
        if (o.abort.empty()) ADD_FAILURE() << c.message;
        EXPECT_EQ(o.abort, c.message);
        EXPECT_EQ(record.last_cm->field_count, 1) << c.message;
        EXPECT_EQ(record.last_cm->scm_list->ind, 5) << c.message;  // nothing renumbered
        cmat_free_all();
        delete_all_applications();
    }
}

TEST_F(FormsTest, InsertingFirstMovesRowsAndRecordsAsTheDumpShows)
{
    record.log_level_lumbas = 0;
    Outcome o = form(new_cm + row(-1, "A", 1) + row(-1, "B", 2) + row(-1, "C  ", 3) + attach("Post", 2) +
                     record_into(E, 3, CM_FIELD_TYPE_GLABEL) + attach("F10", 0) + row(0, "N") + val(CM) +
                     str("t") + st(in_IDISPLAY_CM, 2));
    ASSERT_EQ(o.abort, "") << o.err;
    EXPECT_EQ(value(R), 1);
    auto *label = reinterpret_cast<TestRecord *>(handle(E));
    EXPECT_EQ(label->index, 4);  // the label record's own index moved with it
    const std::vector<std::string> expected = {
        "<<< Start of Display Control Matrix (t) >>>",
        "Index  pNo En Val  Widget Type   Tab Sequence              Pmt Ent Des  Field Name EntryPtr",
        "    1    0  1   0  button        standard field              0   0   0  N  0",
        "    2    1  1   0  button        standard field              0   0   0  A  0",
        "    3    2  1   0  button        standard field              0   0   0  B  0",
        "    4    3  1   0  button        standard field              0   0   0  C  0",
        "Program Mode = null; AnyChange = false; Modified = false; Current Focus = 0",
        "Index  Action Code         Function",
        "    3  Post_Focus          plain",
        "    4  Internal 107        ",
        "    0  F10                 plain",
        "set_focus: 0; return_focus: 0; invoke_focus: 0",
        "<<< End of Display Control Matrix (t) >>>",
    };
    EXPECT_EQ(log_lines(o.err), expected) << o.err;
}

TEST_F(FormsTest, DumpNamesEveryKindAndAbortsOnAValueOutsideTheSets)
{
    record.log_level_lumbas = 0;
    Add a;
    a.tab = num(8);
    a.type = num(10);
    a.enabled = num(0L);
    a.valid = num(1);
    a.label = fn(in_IGLABEL_SIMPLE_NEW, 0);
    a.entry = val(E);
    a.name = str("AnyC");
    Outcome o = form(new_cm + button_into(E) + a.text() + val(CM) + str("kinds") + st(in_IDISPLAY_CM, 2));
    ASSERT_EQ(o.abort, "") << o.err;
    const auto lines = log_lines(o.err);
    ASSERT_GE(lines.size(), 3u);
    char expected[160];
    std::snprintf(expected, sizeof expected, "    1    0  0   1  toggle button skip on tab & not AnyChange 1   1   0  AnyC  %lx",
                  static_cast<unsigned long>(handle(E)));
    EXPECT_EQ(lines[2], expected);
    delete_all_applications();
    ControlMatrix_t *cm = record.last_cm;
    cm_field(cm, 1).type = 13;
    EXPECT_EQ(abort_text([&] { cdisplay_cm(cm, "t"); }), "Invalid Widget Type 13");
    cm_field(cm, 1).type = 1;
    cm_field(cm, 1).tab_seq = 0;
    EXPECT_EQ(abort_text([&] { cdisplay_cm(cm, "t"); }), "Invalid Tag Sequence Type 0");
}

TEST_F(FormsTest, FieldRecordsBindToTheirRow)
{
    struct {
        std::string setup;  // records made before the ICADD; its entry is E
        int kind;           // the ICADD's Widget Type is irrelevant to binding
        std::string message;
    } cases[] = {
        {record_into(E, 7, CM_FIELD_TYPE_GCOMBO), 0, "Attempting to add a Combo at Index 1, when no Combo exists with Index zero or index 1"},
        {record_into(X, 0, CM_FIELD_TYPE_GCOMBO) + record_into(E, 7, CM_FIELD_TYPE_GCOMBO), 0,
         "Attempting to add a Combo at Index 1, different to the previously created Combo of Index zero"},
        {record_into(X, 1, CM_FIELD_TYPE_GCOMBO) + record_into(E, 7, CM_FIELD_TYPE_GCOMBO), 0,
         "Attempting to add a Combo at Index 1, different to the previously created Combo of Index 1"},
        {record_into(X, 0, CM_FIELD_TYPE_GNOTE) + record_into(E, 7, CM_FIELD_TYPE_GNOTE), 0,
         "Attempting to add a Note at Index 1, different to the previously created Note of Index zero of Index zero"},
        {record_into(E, 7, CM_FIELD_TYPE_GIMAGE), 0, "Attempting to add an Image at Index 1, when no Image exists with Index zero or index 1"},
        {record_into(E, 7, CM_FIELD_TYPE_GCHECKBOX), 0, "Attempting to add a Check Box at Index 1, when no Check Box exists with Index zero or index 1"},
        {record_into(E, 7, CM_FIELD_TYPE_GLABEL), 0, "Attempting to add a Label at Index 1, when no Label exists with Index zero or index 1"},
        {record_into(E, 7, CM_FIELD_TYPE_GTOGGLE_BUTTON), 0, "Attempting to add a Toggle Button at Index 1, when no Toggle Button exists with Index zero or index 1"},
        {record_into(E, 7, CM_FIELD_TYPE_GRADIO_BUTTON), 0, "Attempting to add a Radio Button at Index 1, when no Radio Button exists with Index zero or index 1"},
        {record_into(E, 7, CM_FIELD_TYPE_GTEXT), 0, "Attempting to add a Text box at Index 1, when no Text box exists with Index zero or index 1"},
        {record_into(E, 0, CM_FIELD_TYPE_GINPUT), 0, "Compound widget type 1 not found"},
        {record_into(E, 0, CM_FIELD_TYPE_GDATE), 0, "Compound widget type 10 not found"},
        // Made before its row (index 0) or for its row's index: bound, whatever else waits.
        {record_into(X, 0, CM_FIELD_TYPE_GCOMBO) + record_into(E, 1, CM_FIELD_TYPE_GCOMBO), 0, ""},
        {record_into(E, 0, CM_FIELD_TYPE_GNOTE), 0, ""},
        {record_into(E, 1, CM_FIELD_TYPE_GTEXT), 0, ""},
    };
    for (const auto &c : cases) {
        Outcome o = form(new_cm + c.setup + row_with_entry(-1, E, WIDGET_COMBO));
        EXPECT_EQ(o.abort, c.message) << c.setup;
        if (c.message.empty()) {
            auto *entry = reinterpret_cast<TestRecord *>(handle(E));
            ControlMatrix_t *cm = cm_of(CM);
            EXPECT_EQ(cm_field(cm, 1).entry, entry);
            const int code = entry->kind == CM_FIELD_TYPE_GNOTE ? AC_NOTE_SETUP
                             : entry->kind == CM_FIELD_TYPE_GTEXT ? AC_TEXT_SETUP
                                                                  : AC_COMBO_SETUP;
            SubControlMatrix_t *s = cmat_get_scm(cm, 1, code);
            ASSERT_NE(s, nullptr);
            EXPECT_EQ(s->setup, entry);
            if (entry->kind == CM_FIELD_TYPE_GNOTE) {
                EXPECT_NE(cmat_get_scm(cm, 1, AC_NOTE_F9), nullptr);
                EXPECT_EQ(cmat_get_scm(cm, 0, AC_NOTE_F9), nullptr);
            }
            if (entry->kind != CM_FIELD_TYPE_GCOMBO) {
                EXPECT_EQ(entry->index, 1);
            }
        }
        cmat_free_all();
        delete_all_applications();
    }
    // A note whose F9 record has gone cannot be added.
    ASSERT_EQ(form(new_cm + record_into(E, 0, CM_FIELD_TYPE_GNOTE)).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    cremove_scm(cm, cmat_get_scm(cm, 0, AC_NOTE_F9));
    const std::string note = number(reinterpret_cast<void *>(handle(E)));
    delete_all_applications();
    Add a;
    a.cm = number(cm);
    a.entry = note;
    EXPECT_EQ(form(a.text()).abort, "Failed to find F9 associated with a Note at index 1");
}

TEST_F(FormsTest, ACompoundFieldInsertedMidTableBinds)
{
    // Rows A, B, C with a Post_Focus routine on B and a label record on C; a combo made for the
    // new second row is inserted after A.
    Outcome o = form(new_cm + row(-1, "A") + row(-1, "B") + row(-1, "C") + attach("Post", 2) +
                     record_into(L, 3, CM_FIELD_TYPE_GLABEL) + record_into(E, 2, CM_FIELD_TYPE_GCOMBO) +
                     row_with_entry(1, E, WIDGET_COMBO));
    ASSERT_EQ(o.abort, "");
    EXPECT_EQ(value(R), 2);
    ControlMatrix_t *cm = cm_of(CM);
    ASSERT_EQ(cm->field_count, 4);
    const char *names[] = {"A", "F", "B", "C"};
    for (int i = 1; i <= 4; ++i) EXPECT_STREQ(cm_field(cm, i).name, names[i - 1]);
    EXPECT_EQ(cmat_get_scm(cm, 2, AC_COMBO_SETUP)->setup, reinterpret_cast<void *>(handle(E)));
    EXPECT_NE(cmat_get_scm(cm, 3, AC_POST_FOCUS), nullptr);
    EXPECT_EQ(cmat_get_scm(cm, 2, AC_POST_FOCUS), nullptr);
    EXPECT_EQ(reinterpret_cast<TestRecord *>(handle(L))->index, 4);
    EXPECT_EQ(cmat_get_scm(cm, 4, AC_LABEL_SETUP)->setup, reinterpret_cast<void *>(handle(L)));
}

TEST_F(FormsTest, AWidgetEntryBindsTheWaitingInputAndDateRecords)
{
    Outcome o = form(new_cm + row(-1, "A") + val(CM) + num(0L) + fn(in_IGINPUT_NEW, 2) + set(E) + val(CM) + num(0L) +
                     fn(in_IGDATE_NEW, 2) + set(E2) + row_with_entry(0, E, WIDGET_INPUT));
    ASSERT_EQ(o.abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    EXPECT_EQ(value(R), 1);
    EXPECT_EQ(cm_field(cm, 1).entry, reinterpret_cast<void *>(handle(E)));
    EXPECT_NE(cmat_get_scm(cm, 1, AC_INPUT_SETUP), nullptr);
    EXPECT_NE(cmat_get_scm(cm, 1, AC_DATE_SETUP), nullptr);
    EXPECT_EQ(cmat_get_scm(cm, 0, AC_INPUT_SETUP), nullptr);
    // The finders of field records see them at their row.
    EXPECT_NE(ginput_get_mintype(cm, 1), nullptr);
    EXPECT_NE(gdate_get_yr(cm, 1), nullptr);
    EXPECT_EQ(abort_text([&] { ginput_get_mintype(cm, 2); }),
              "Encountered field at index 2 type 3 with missing internal reference. Check that the Widget was created "
              "with the correct index number.");
    EXPECT_EQ(abort_text([&] { gtext_get_mintype(cm, 1); }), "Hidden data not found for Text widget; Index = 1");
    EXPECT_EQ(abort_text([&] { glabel_get_type(cm, 1); }), "Must call iglabel_setup for fields of type label; Index = 1");
    EXPECT_EQ(abort_text([&] { gdate_get_yr(cm, 2); }), "Must call igdate_setup for fields of type date; Index = 2");
}

TEST_F(FormsTest, RemovingRows)
{
    const std::string four_rows = new_cm + row(-1, "A") + row(-1, "B") + row(-1, "C") + row(-1, "D") +
                                  attach("Post", 1) + attach("Post", 2) + attach("Post", 4) +
                                  record_into(L, 4, CM_FIELD_TYPE_GLABEL) + attach("Post", 0);
    struct {
        std::string removal;
        std::vector<std::string> names;  // rows left
        std::vector<int> posts;          // indexes of the Post_Focus records left
        std::string message;
    } cases[] = {
        {val(CM) + num(2) + num(3) + st(in_ICREMOVE, 3), {"A", "D"}, {1, 2, 0}, ""},
        {val(CM) + num(2) + st(in_ICREMOVE, 2), {"A"}, {1, 0}, ""},
        {val(CM) + num(1) + num(4) + st(in_ICREMOVE, 3), {}, {0}, ""},
        {val(CM) + num(3) + num(2) + st(in_ICREMOVE, 3), {}, {}, "The start index must be less than the finish index"},
        {val(CM) + num(0L) + num(2) + st(in_ICREMOVE, 3), {}, {}, "The start index must be greater than zero"},
        {val(CM) + num(2) + num(9) + st(in_ICREMOVE, 3), {}, {}, "The finish index 9 must not be greater than the number of fields 4"},
    };
    for (const auto &c : cases) {
        Outcome o = form(four_rows + c.removal);
        EXPECT_EQ(o.abort, c.message) << c.removal;
        if (c.message.empty()) {
            ControlMatrix_t *cm = cm_of(CM);
            std::vector<std::string> names;
            for (int i = 1; i <= cm->field_count; ++i) names.push_back(cm_field(cm, i).name);
            EXPECT_EQ(names, c.names) << c.removal;
            std::vector<int> posts;
            for (SubControlMatrix_t *s = cm->scm_list; s; s = s->next)
                if (s->action_code == AC_POST_FOCUS) posts.push_back(s->ind);
            EXPECT_EQ(posts, c.posts) << c.removal;
            if (c.names.size() == 2) {
                EXPECT_EQ(reinterpret_cast<TestRecord *>(handle(L))->index, 2);
            }
            if (c.names.empty()) {
                EXPECT_EQ(cm->field, nullptr);
            }
        }
        cmat_free_all();
        delete_all_applications();
    }
}

TEST_F(FormsTest, GridRowRemovalShiftsTheFocus)
{
    GtkWidget *window = gtk_window_new();
    handle_issue_widget(window);
    GtkWidget *grid = gtk_grid_new();
    gtk_window_set_child(GTK_WINDOW(window), grid);
    GtkWidget *buttons[3];
    std::string body = ref(CM) + number(window) + st(in_ICATTACH_WINDOW, 2);
    for (int i = 0; i < 3; ++i) {
        buttons[i] = gtk_button_new();
        gtk_grid_attach(GTK_GRID(grid), buttons[i], 0, i, 1, 1);
        handle_issue_widget(buttons[i]);
        Add a;
        a.entry = number(buttons[i]);
        a.name = str(std::string(1, static_cast<char>('A' + i)));
        body += a.text();
    }
    ASSERT_EQ(form(body).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    cm->current_focus = 3;
    cm->edit_field = 3;
    cm->event_index = 1;
    cm->return_focus = 2;
    cutil_destroy_widget(buttons[1]);
    ASSERT_EQ(cm->field_count, 2);
    EXPECT_STREQ(cm_field(cm, 2).name, "C");
    EXPECT_EQ(cm->current_focus, 2);
    EXPECT_EQ(cm->edit_field, 2);
    EXPECT_EQ(cm->event_index, 1);
    EXPECT_EQ(cm->return_focus, 2);
    // A widget of no row removes nothing; a window without a CM is a fault.
    GtkWidget *loose = gtk_button_new();
    gtk_grid_attach(GTK_GRID(grid), loose, 1, 0, 1, 1);
    cutil_destroy_widget(loose);
    EXPECT_EQ(cm->field_count, 2);
    GtkWidget *other = gtk_window_new();
    GtkWidget *inside = gtk_button_new();
    gtk_window_set_child(GTK_WINDOW(other), inside);
    EXPECT_EQ(abort_text([&] { cutil_destroy_widget(inside); }), "Widget not found in the Process Control Matrix (k)");
    gtk_window_destroy(GTK_WINDOW(other));
}

TEST_F(FormsTest, StaleAndForeignNumbersAreRefused)
{
    // E: a button that is destroyed; L: a label; E2: a combo record; D: a label record.
    const std::string setup = new_cm + row(-1, "A", 3) + button_into(L) + record_into(E2, 9, CM_FIELD_TYPE_GCOMBO) +
                              record_into(D, 9, CM_FIELD_TYPE_GLABEL);
    const auto setter = [](int code, const std::string &value) { return val(CM) + num(1) + value + st(code, 3); };
    struct {
        std::string body;
        const char *message;
    } cases[] = {
        {setter(in_ICSET_FIELD_ENTRY_PTR, num(4242)), "Invalid pointer to the entry field at index 1 field A prompt 3"},
        {setter(in_ICSET_FIELD_PROMPT_PTR, val(E2)), "Invalid pointer to the label field at index 1 field A prompt 3"},
        {setter(in_ICSET_FIELD_DES_PTR, val(E2)), "Invalid pointer to the description field at index 1 field A prompt 3"},
        {setter(in_ICSET_FIELD_DES_PTR, val(D)) + setter(in_ICSET_FIELD_ENTRY_PTR, val(E2)) +
             setter(in_ICSET_FIELD_PROMPT_PTR, val(L)),
         ""},
        {setter(in_ICSET_FIELD_ENTRY_PTR, val(L)) + setter(in_ICSET_FIELD_ENTRY_PTR, num(0L)), ""},
        {val(CM) + num(2) + num(0L) + st(in_ICSET_FIELD_ENTRY_PTR, 3), "Invalid Control Matrix index (b): 2 @ cset_cm_get_chr"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(form(setup + c.body).abort, c.message) << c.body;
        cmat_free_all();
        delete_all_applications();
    }
    // A widget that has gone cannot be put in a row.
    const std::string gone = number(disposed_widget());
    EXPECT_EQ(form(setup + setter(in_ICSET_FIELD_ENTRY_PTR, gone)).abort,
              "Invalid pointer to the entry field at index 1 field A prompt 3");
    cmat_free_all();
    delete_all_applications();
    // Nor a field record that has been freed.
    ASSERT_EQ(form(setup).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    const std::string freed = number(reinterpret_cast<void *>(handle(E2)));
    cremove_scm(cm, cmat_get_scm(cm, 9, AC_COMBO_SETUP));
    delete_all_applications();
    EXPECT_EQ(form(number(cm) + num(1) + freed + st(in_ICSET_FIELD_ENTRY_PTR, 3)).abort,
              "Invalid pointer to the entry field at index 1 field A prompt 3");
}

TEST_F(FormsTest, ElementsThroughTheIntrinsics)
{
    Add a;
    a.name = str("Name  ");
    a.prompt = num(2);
    a.label = fn(in_IGLABEL_SIMPLE_NEW, 0);
    a.tab = num(7);
    a.type = num(WIDGET_LABEL);
    a.valid = num(1);
    Outcome o = form(new_cm + row(-1, "A", 1) + a.text() +
                     // getters by index and by name
                     val(CM) + num(2) + fn(in_ICGET_FIELD_PROMPT_NO, 2) + set(X) + val(CM) + str("Name") +
                     fn(in_ICGET_FIELD_TAB_SEQ, 2) + set(Y) + val(CM) + num(2) + fn(in_ICGET_FIELD_PROMPT_PTR, 2) + set(L) +
                     val(CM) + str("A") + sfn(in_ICGET_FIELD_NAME, 2) + sset(TS) +
                     // the index lookups
                     val(CM) + str("EndIndex") + fn(in_ICGET_INDEX, 2) + set(D) + val(CM) + str("AnyChange") +
                     fn(in_ICGET_INDEX, 2) + set(Z) + val(CM) + str("nobody") + fn(in_ICCHECK_INDEX, 2) + set(E) +
                     val(CM) + str("Name") + fn(in_ICCHECK_INDEX, 2) + set(E2) +
                     // setters keep what they are given
                     val(CM) + num(1) + str("A  ") + st(in_ICSET_FIELD_NAME, 3) + val(CM) + num(1) + num(77) +
                     st(in_ICSET_FIELD_TYPE, 3) + val(CM) + num(1) + num(-5) + st(in_ICSET_FIELD_VALID, 3) + val(CM) +
                     num(1) + num(20000) + st(in_ICSET_FIELD_PROMPT_NO, 3) + val(CM) + fn(in_ICGET_LAST_INDEX, 1) +
                     set(CM2));
    ASSERT_EQ(o.abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    EXPECT_EQ(value(X), 2);
    EXPECT_EQ(value(Y), 7);
    EXPECT_EQ(handle(L), reinterpret_cast<long>(cm_field(cm, 2).label));
    EXPECT_NE(handle(L), 0);
    EXPECT_EQ(text(TS), "A");
    EXPECT_EQ(value(D), 2);
    EXPECT_EQ(value(Z), 2);
    EXPECT_EQ(value(E), 0);
    EXPECT_EQ(value(E2), 1);
    EXPECT_EQ(value(CM2), 2);
    EXPECT_STREQ(cm_field(cm, 1).name, "A  ");  // set as given
    EXPECT_STREQ(cm_field(cm, 2).name, "Name");  // trimmed by ICADD
    EXPECT_EQ(cm_field(cm, 1).type, 77);
    EXPECT_EQ(cm_field(cm, 1).valid, -5);
    EXPECT_EQ(cm_field(cm, 1).prompt, 20000);
    delete_all_applications();

    const std::string c = number(cm);
    struct {
        std::string body;
        std::string message;  // the whole text, or its start where it names a source line
    } cases[] = {
        {c + str("nobody") + fn(in_ICGET_INDEX, 2), "Field 'nobody' not found in current window"},
        {c + str("nobody") + fn(in_ICGET_FIELD_TYPE, 2), "Field name 'nobody' not found in the Control Matrix " + hex(cm) + " (g)"},
        {c + num(3) + fn(in_ICGET_FIELD_TYPE, 2), "Invalid Control Matrix index (b): 3 @ cset_cm_get_int:"},
        {c + num(3) + str("X") + st(in_ICSET_FIELD_NAME, 3), "Invalid Control Matrix index (b0): 3"},
        {c + "loadrad I:0 I:1 I:3 I:0 I:0\n" + fn(in_ICGET_FIELD_TYPE, 2), "Invalid data type to second parameter"},
        {c + num(0L) + sfn(in_ICGET_FIELD_NAME, 2), "Invalid Control Matrix index (b): 0 @ cset_cm_get_chr"},
        {c + num(3) + fn(in_ICGET_FIELD_DES_PTR, 2), "Invalid Control Matrix index (b): 3 @ cset_cm_get_ptr"},
        {c + num(3) + num(1) + st(in_ICSET_FIELD_VALID, 3), "Invalid Control Matrix index (b): 3 @ cset_cm_put_int"},
    };
    for (const auto &k : cases) {
        const std::string stop = form(k.body).abort;
        EXPECT_EQ(stop.substr(0, k.message.size()), k.message) << stop;
        EXPECT_FALSE(stop.empty()) << k.message;
        delete_all_applications();
    }
}

TEST_F(FormsTest, ElementAccessAndLookups)
{
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    g_object_ref_sink(box);
    GtkWidget *prompt = gtk_label_new("P"), *button = gtk_button_new(), *description = gtk_label_new("D");
    gtk_box_append(GTK_BOX(box), prompt);
    gtk_box_append(GTK_BOX(box), button);
    for (GtkWidget *w : {prompt, button, description}) handle_issue_widget(w);
    g_object_ref_sink(description);
    ASSERT_EQ(form(new_cm).abort, "");
    ControlMatrix_t *cm = cm_of(CM);
    cadd_field(cm, -1, "A", 1, prompt, button, description, TAB_KEY, 1, WIDGET_BUTTON, 0);
    cadd_field(cm, -1, "B", 2, nullptr, nullptr, nullptr, TAB_ANYCHANGE, 1, WIDGET_INPUT, 0);
    cadd_field(cm, -1, "C", 3, nullptr, nullptr, nullptr, TAB_KEY, 0, WIDGET_INPUT, 0);

    struct {
        std::function<void()> call;
        std::string message;  // a prefix for the messages that name a source line
    } cases[] = {
        {[&] { cset_cm_get_chr(cm, 0, 1); }, "Index into Control Matrix out of range (a): 0"},
        {[&] { cset_cm_get_chr(cm, CM_NAME, 4); }, "Invalid Control Matrix index (b): 4 @ cset_cm_get_chr"},
        {[&] { cset_cm_get_chr(cm, CM_PROMPT, 1); }, "Unexpected element 2 of cset_cm_get_chr"},
        {[&] { cset_cm_get_int(cm, 15, 1); }, "Index into Control Matrix out of range (b): 15 @ cset_cm_get_int:"},
        {[&] { cset_cm_get_int(cm, CM_PROMPT, 0); }, "Invalid Control Matrix index (b): 0 @ cset_cm_get_int:"},
        {[&] { cset_cm_get_int(cm, CM_LABEL_PTR, 1); }, "Unexpected element 3 of cset_cm_get_int"},
        {[&] { cset_cm_get_ptr(cm, -1, 1); }, "Index into Control Matrix out of range (c): -1"},
        {[&] { cset_cm_get_ptr(cm, CM_TYPE, 1); }, "Unexpected element 8 of cset_cm_get_ptr"},
        {[&] { cset_cm_get_ptr(cm, 0, 2); }, "Must provide a Prompt, even if it is just a blank"},
        {[&] { cset_cm_put_int(cm, 15, 1, 0); }, "Index into Control Matrix out of range (h): 15"},
        {[&] { cset_cm_put_int(cm, CM_NAME, 1, 0); }, "Unexpected element 1 of cset_cm_put_int"},
        {[&] { cset_cm_put_int(cm, CM_TYPE, 9, 0); }, "Invalid Control Matrix index (b): 9 @ cset_cm_put_int"},
        {[&] { cset_cm_put_ptr(cm, 0, 1, nullptr); }, "Index into Control Matrix out of range (d): 0"},
        {[&] { cset_cm_put_ptr(cm, CM_PROMPT, 1, nullptr); }, "Unexpected element 2 of cset_cm_put_ptr"},
        {[&] { cset_cm_get_index(cm, 0, "A", 0); }, "Index into Control Matrix out of range (g): 0"},
        {[&] { cset_cm_get_index(cm, CM_NAME, "Z", 1); }, "Field name 'Z' not found in the Control Matrix "},
        {[&] { cget_index_for_int(cm, 0, 1); }, "Index into Control Matrix out of range (j): 0"},
        {[&] { cget_index_for_int(cm, CM_TYPE, 1); }, "Invalid use of cget_index_for_int"},
        {[&] { cget_index_for_int(cm, CM_PROMPT, 9); }, "Integer value '9' not found in the Control Matrix (j)"},
        {[&] { cget_index_for_ptr(cm, 15, button, 0); }, "Index into Control Matrix out of range (k): 15"},
        {[&] { cget_index_for_ptr(cm, CM_LABEL_PTR, button, 0); }, "cget_index_for_ptr not yet coded for other than Entry field"},
        {[&] { cget_index_for_ptr(cm, CM_ENTRY_PTR, description, 1); }, "Widget pointer "},
    };
    for (const auto &c : cases) {
        const std::string stop = abort_text(c.call);
        EXPECT_EQ(stop.substr(0, c.message.size()), c.message);
        EXPECT_FALSE(stop.empty()) << c.message;
    }
    EXPECT_EQ(cset_cm_get_ptr(cm, 0, 1), box);
    EXPECT_EQ(cset_cm_get_index(cm, CM_NAME, "B", 1), 2);
    EXPECT_EQ(cset_cm_get_index(cm, CM_NAME, "B ", 0), -1);
    EXPECT_EQ(cget_index_for_int(cm, CM_PROMPT, 3), 3);
    EXPECT_EQ(cget_index_for_ptr(cm, CM_ENTRY_PTR, button, 1), 1);
    GtkWidget *inner = gtk_label_new("x");
    gtk_button_set_child(GTK_BUTTON(button), inner);
    EXPECT_EQ(cget_index_for_ptr(cm, CM_ENTRY_PTR, inner, 1), 1);  // a child of the entry
    EXPECT_EQ(cget_index_for_ptr(cm, CM_ENTRY_PTR, prompt, 0), -1);  // a sibling is not
    EXPECT_EQ(cget_cm_for_widget(&record, button), cm);
    // A widget nested deeper (a box in the entry, a label in it) belongs to the nearest enclosing
    // widget's form; a widget of no form is a stop.
    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0), *deep = gtk_label_new("y");
    gtk_box_append(GTK_BOX(row), deep);
    gtk_button_set_child(GTK_BUTTON(button), row);
    EXPECT_EQ(cget_cm_for_widget(&record, deep), cm);
    GtkWidget *lone = g_object_ref_sink(gtk_label_new("z"));
    EXPECT_EQ(abort_text([&] { cget_cm_for_widget(&record, lone); }).substr(0, 7), "Widget ");
    g_object_unref(lone);
    EXPECT_EQ(cutil_count(cm, CM_TAB_SEQ, TAB_KEY), 1);  // C is not Enabled
    EXPECT_EQ(cmat_get_anychange(cm, 1), 2);
    EXPECT_EQ(cget_label_is_widget(description), 1);
    EXPECT_EQ(cget_label_is_widget(button), 0);
    EXPECT_EQ(cget_label_is_widget(nullptr), 0);
    // On a zoom window a missing row reads as 0 and a missing widget is no fault.
    cm->type = CM_WT_ZOOM;
    EXPECT_EQ(cset_cm_get_int(cm, CM_TYPE, 9), 0);
    EXPECT_EQ(cget_index_for_ptr(cm, CM_ENTRY_PTR, description, 1), -1);
    cremove_ind(cm, 2, 2);
    EXPECT_EQ(abort_text([&] { cmat_get_anychange(cm, 1); }), "No anychange field found");
    EXPECT_EQ(cmat_get_anychange(cm, 0), -1);
    g_object_unref(box);
    g_object_unref(description);
}

TEST_F(FormsTest, SensitivityFollowsTheEnabledFlags)
{
    // Row 1: a button with prompt and description; row 2: a combo record; row 3: a no-focus button.
    Add first;
    first.label = val(L);
    first.entry = val(E);
    first.description = val(D);
    first.type = num(WIDGET_BUTTON);
    Add combo;
    combo.entry = val(E2);
    combo.type = num(WIDGET_COMBO);
    Add no_focus;
    no_focus.entry = val(X);
    no_focus.tab = num(TAB_NO_FOCUS);
    Outcome o = form(new_cm + fn(in_IGLABEL_SIMPLE_NEW, 0) + set(L) + button_into(E) + fn(in_IGLABEL_SIMPLE_NEW, 0) +
                     set(D) + record_into(E2, 0, CM_FIELD_TYPE_GCOMBO) + button_into(X) + first.text() + combo.text() +
                     no_focus.text() + val(CM) + num(1) + num(0L) + st(in_ICSET_FIELD_ENABLED, 3) + val(CM) + num(2) +
                     num(TAB_NO_FOCUS) + st(in_ICSET_FIELD_TAB_SEQ, 3));
    ASSERT_EQ(o.abort, "");
    const auto widget = [&](Numeric v) { return reinterpret_cast<GtkWidget *>(handle(v)); };
    for (Numeric v : {L, E, D}) EXPECT_FALSE(gtk_widget_get_sensitive(widget(v))) << v;
    EXPECT_FALSE(gtk_widget_get_sensitive(reinterpret_cast<TestRecord *>(handle(E2))->widget));
    EXPECT_FALSE(gtk_widget_get_sensitive(widget(X)));
    ControlMatrix_t *cm = cm_of(CM);
    int *snapshot = cinvoke_get_enabled(cm);
    EXPECT_EQ(snapshot[0], 3);
    EXPECT_EQ(snapshot[1], 0);
    // An unchanged snapshot touches nothing; a changed one re-applies every field.
    gtk_widget_set_sensitive(widget(E), TRUE);
    cinvoke_set_enabled(cm, snapshot);
    EXPECT_TRUE(gtk_widget_get_sensitive(widget(E)));
    cm_field(cm, 1).enabled = 1;
    cinvoke_set_enabled(cm, snapshot);
    for (Numeric v : {L, E, D}) EXPECT_TRUE(gtk_widget_get_sensitive(widget(v))) << v;
    g_free(snapshot);

    struct {
        int row, type;
        std::string message;
    } wrong[] = {
        {1, WIDGET_COMBO, "For field Index 1, defined as type 'Combo' (4), a widget of type Unexpected widget type was unexpectedly encountered"},
        {2, WIDGET_INPUT, "For field Index 2, defined as type 'Input' (1), a widget of type Combo was unexpectedly encountered"},
        {2, WIDGET_RADIO, "For field Index 2, defined as type 'Radio Button' (11), a widget of type Combo was unexpectedly encountered"},
        {1, WIDGET_LABEL, "For field Index 1, defined as type 'Label' (9), a widget of standard type, possibly a Simple Label, was unexpectedly encountered"},
        {1, 13, "Unexpected widget type 13"},
    };
    for (const auto &w : wrong) {
        const int saved_type = cm_field(cm, w.row).type;
        cm_field(cm, w.row).type = w.type;
        EXPECT_EQ(abort_text([&] { cinvoke_set_enabled(cm, nullptr); }), w.message);
        cm_field(cm, w.row).type = saved_type;
    }
    // An empty row of the kind stops clearly.
    const RecordKindHooks row = register_record_kind(CM_FIELD_TYPE_GCOMBO, RecordKindHooks{});
    EXPECT_EQ(abort_text([&] { cinvoke_set_enabled(cm, nullptr); }), "Combo fields not available");
    register_record_kind(CM_FIELD_TYPE_GCOMBO, row);
}
