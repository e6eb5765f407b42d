// Focus and Tab order: the walks over the Tab Sequence Types, focusing a field's widget with
// scrolling into view, presenting the newest window, the consistency check and ICSET_FOCUS.
#include "cfocus.h"

#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cases.h"
#include "cattach.h"
#include "cfield.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "handles.h"
#include "kinds.h"
#include "message.h"
#include "symtab.h"

namespace {

using intr::arg;

// ---- The walks ----------------------------------------------------------------------------------------

enum class Rule { tab, back, next };

constexpr int WRAP_BUDGET = 250;

// What a passed field's Pre_Focus routine may change that decides where a walk stops.
struct Deciders {
    int count = 0, anychange = 0;
    std::vector<int> rows;  // per field: Enabled flag, Tab Sequence Type
    explicit Deciders(const ControlMatrix_t *cm) : count(cm->field_count), anychange(cm->anychange)
    {
        rows.reserve(static_cast<std::size_t>(count) * 2);
        for (int i = 1; i <= count; ++i) {
            const CmField_t &f = cm_field(const_cast<ControlMatrix_t *>(cm), i);
            rows.push_back(f.enabled);
            rows.push_back(f.tab_seq);
        }
    }
    bool operator==(const Deciders &) const = default;
};

struct Walk {
    ControlMatrix_t *cm;
    Rule rule;
    int from;
    int from_type;  // Tab Sequence Type of `from` (0 for none)
    int max;        // the field count, read again after each routine a walk runs
    int ac;         // the AnyChange field, or max when there is none
    bool ac_apart() const { return ac != max; }  // the AnyChange field is visited after the last field

    [[noreturn]] void bad_type(int found) const
    {
        switch (rule) {
        case Rule::tab: Abort("Invalid Program Control Matrix Tab Sequence Type %d; Index %d (b)", found, from);
        case Rule::back: Abort("Invalid Program Control Matrix Tab Sequence Type %d %d %d (e)", from_type, found, from);
        case Rule::next: Abort("Invalid Tab Sequence Type encountered %d %d %d", from_type, found, from);
        }
        Abort("Invalid Tab Sequence Type encountered %d %d %d", from_type, found, from);
    }

    // Whether the walk stops at field c; a passed Enabled type-5 field in add mode has its
    // Pre_Focus run first (Tab and next-field rule). *changed: that run changed a decider.
    bool stops(int c, bool *changed)
    {
        *changed = false;
        const int type = cset_cm_get_int(cm, CM_TAB_SEQ, c);
        const int enabled = cset_cm_get_int(cm, CM_ENABLED, c);
        switch (type) {
        case TAB_KEY:
        case TAB_REQUIRED:
        case TAB_STANDARD: return enabled && (rule != Rule::next || cm->anychange == 0);
        case TAB_SKIP:
        case TAB_NO_FOCUS:
        case TAB_SKIP_NOT_ANYCHANGE: return false;
        case TAB_SKIP_IN_ADD:
            if (rule != Rule::next && enabled && cm->anychange == 1) return true;
            if (rule != Rule::back && enabled && cm->anychange == 0) {
                const Deciders before(cm);
                max = cfocus_invoke_pre_on_skip(cm, c);
                *changed = !(Deciders(cm) == before);
            }
            return false;
        case TAB_ANYCHANGE: return true;
        default: bad_type(type);
        }
    }

    // The next candidate after c in the walk's direction; false when the wrap budget is spent.
    bool advance(int &c, int &budget) const
    {
        if (rule == Rule::back) {
            if (ac_apart() && c == ac) {
                c = max;
                return true;
            }
            --c;
            if (ac_apart() && c == ac) --c;
            if (c < 1) {
                if (--budget <= 0) return false;
                c = ac;
            }
            return true;
        }
        if (ac_apart() && c == ac) {
            c = 1;
            return true;
        }
        ++c;
        if (ac_apart() && c == ac) ++c;
        if (c > max) {
            if (--budget <= 0) return false;
            c = ac_apart() ? ac : 1;
        }
        return true;
    }

    // Tab's first candidate adjustments: the AnyChange field is skipped at its own place, and past
    // the last field comes the AnyChange field (or field 1).
    int forward_start(int c) const
    {
        if (ac_apart() && c == ac) ++c;
        if (c > max) c = ac_apart() ? ac : 1;
        return c;
    }

    // The field the walk stops at, or 0 when nothing stops it: the budget is spent, or a whole
    // round passed every field without any routine changing what decides a stop (another
    // round would find the same).
    int run(int c)
    {
        int budget = WRAP_BUDGET, unchanged = 0;
        for (;;) {
            bool changed = false;
            if (stops(c, &changed)) return c;
            unchanged = changed ? 0 : unchanged + 1;
            if (unchanged >= max) return 0;
            if (!advance(c, budget)) return 0;
        }
    }
};

Walk make_walk(ControlMatrix_t *cm, Rule rule, int from)
{
    const int max = cm->field_count;
    if (from > max) Abort("Attempt to access Program Control Matrix at index %d out of range %d", from, max);
    const int ac = cmat_get_anychange(cm, 0);
    return Walk{cm, rule, from, 0, max, ac >= 1 ? ac : max};
}

// The Tab Sequence Type of `from` for the walks that read it first.
int type_of_from(const Walk &w)
{
    const int type = cset_cm_get_int(w.cm, CM_TAB_SEQ, w.from);
    return type;
}

bool valid_type(int type) { return type >= 1 && type <= TAB_MAX; }

// Gives the focus to the walk's target (0: no field yet) and returns it.
int focus_on(ControlMatrix_t *cm, int target)
{
    if (target >= 1) cmat_set_focus_index(cm, target);
    return target;
}

// ---- Giving the focus ------------------------------------------------------------------------------------

// The widget that takes the focus for a field of a compound kind (its Widget Type's hook).
GtkWidget *hooked_focus_widget(ControlMatrix_t *cm, int index, void *entry, int type)
{
    auto hook = widget_type(type).focus_widget;
    if (!hook) type_not_available(type);
    return hook(cm, index, entry);
}

void expect_kind(const void *entry, int kind, const char *condition)
{
    if (handle_kind(entry) != kind) assertion_failed(__FILE__, __LINE__, condition);
}

// The widget that takes the keyboard for field index, by its Widget Type.
GtkWidget *field_focus_widget(ControlMatrix_t *cm, int index, void *entry, int type)
{
    switch (type) {
    case WIDGET_BUTTON:
        if (GtkWidget *widget = cget_widget_for_widget(entry)) return widget;
        break;
    case WIDGET_IMAGE: expect_kind(entry, CM_FIELD_TYPE_GIMAGE, "image_data->type == CM_FIELD_TYPE_GIMAGE"); break;
    case WIDGET_LABEL: expect_kind(entry, CM_FIELD_TYPE_GLABEL, "clabel_data->type == CM_FIELD_TYPE_GLABEL"); break;
    case WIDGET_TOGGLE:
        expect_kind(entry, CM_FIELD_TYPE_GTOGGLE_BUTTON, "toggle_data->type == CM_FIELD_TYPE_GTOGGLE_BUTTON");
        break;
    case WIDGET_RADIO:
        expect_kind(entry, CM_FIELD_TYPE_GRADIO_BUTTON, "radio_data->type == CM_FIELD_TYPE_GRADIO_BUTTON");
        break;
    case WIDGET_TEXT: expect_kind(entry, CM_FIELD_TYPE_GTEXT, "text_data->type == CM_FIELD_TYPE_GTEXT"); break;
    default: break;
    }
    return hooked_focus_widget(cm, index, entry, type);
}

// ---- The consistency check -------------------------------------------------------------------------------

bool is_grid(const void *entry) { return handle_kind(entry) == 0 && GTK_IS_GRID(entry); }
bool is_box(const void *entry) { return handle_kind(entry) == 0 && GTK_IS_BOX(entry); }

// For each field, the next later field of the same name (0: none), found by hashing.
std::vector<int> later_namesakes(ControlMatrix_t *cm)
{
    std::vector<int> later(static_cast<std::size_t>(cm->field_count) + 1, 0);
    std::unordered_map<std::string_view, int> seen;
    seen.reserve(static_cast<std::size_t>(cm->field_count));
    for (int i = cm->field_count; i >= 1; --i) {
        const char *name = cm_field(cm, i).name;
        auto [it, fresh] = seen.try_emplace(std::string_view(name ? name : ""), i);
        if (!fresh) {
            later[static_cast<std::size_t>(i)] = it->second;
            it->second = i;
        }
    }
    return later;
}

void check_attachments(ControlMatrix_t *cm)
{
    for (SubControlMatrix_t *s = cm->scm_list; s; s = s->next) {
        if (s->ind <= 0) continue;
        if (s->action_code == AC_POST_FOCUS && s->ind <= cm->field_count) {
            const CmField_t &f = cm_field(cm, s->ind);
            const bool exempt = f.type == WIDGET_TABLE || f.type == WIDGET_BUTTON || f.type == WIDGET_IMAGE ||
                                f.type == WIDGET_LABEL || f.tab_seq == TAB_ANYCHANGE;
            if (!exempt && !cmat_get_scm(cm, s->ind, AC_PRE_FOCUS)) {
                if (!s->routine) Abort("icattach_fun index %d Action Code 'Post_Focus' has null function pointer", s->ind);
                Abort("Function %d %s: No matching icattach_fun Action Code 'Pre_Focus' for an Action Code 'Post_Focus'",
                      s->ind, s->routine->R_name.c_str());
            }
        }
        if (s->action_code == AC_COMBO_SETUP && s->setup) {
            int kind = 0;
            std::memcpy(&kind, s->setup, sizeof kind);
            auto init = record_kind(kind).init_focus;
            if (!init) kind_not_available(kind);
            init(cm, s->ind, s->setup);
        }
        if (s->action_code <= 99 && !s->routine)
            Abort("No function provided for field %d Action Code %d", s->ind, s->action_code);
    }
}

void check_fields(ControlMatrix_t *cm)
{
    const std::vector<int> later = later_namesakes(cm);
    for (int i = 1; i <= cm->field_count; ++i) {
        const CmField_t &f = cm_field(cm, i);
        if (f.prompt > 0) {
            if (f.tab_seq == TAB_SKIP)
                Abort("Must not have a prompt number for a type 4: Mouse clickable only (when enabled is true)");
            if (f.tab_seq == TAB_ANYCHANGE) Abort("Must not have a prompt number for the AnyChange field");
            if (f.tab_seq == TAB_SKIP_NOT_ANYCHANGE)
                Abort("Must not have a prompt number for a type 8: Mouse clickable only (when AnyChange is true)");
        }
        if (const int j = later[static_cast<std::size_t>(i)]) Abort("Duplicate field name found for fields %d and %d", i, j);
        if (f.type == WIDGET_NOTE) {
            if (!cmat_get_scm(cm, i, AC_EDIT_CONTENT))
                Abort("Note widget at index %d has missing Edit_Content Action Code. The Edit_Content is where you "
                      "would lock a database record.",
                      i);
            if (!cmat_get_scm(cm, i, AC_ESCAPE)) Abort("Note widget at index %d has missing Escape Action Code", i);
        }
        if (f.type == WIDGET_TABLE) {
            if (f.tab_seq != TAB_NO_FOCUS)
                Abort("A Table (index %d) must have a Tab Sequence Type of Display Only (i.e. No Focus)", i);
            if (!f.entry) Abort("A field at index %d defined as a Table does not contain anything", i);
            if (!is_grid(f.entry)) {
                if (is_box(f.entry))
                    mmessage(1, "Found box when expecting a grid (table) in the Entry field of the Control Matrix index %d", i);
                else
                    mmessage(1,
                             "An unexpected widget type encountered when expecting a grid (table) in the Entry field "
                             "of the Control Matrix index %d",
                             i);
            }
        }
    }
}

// The Pre_Focus of the field ICSET_FOCUS names; a window closed by it ends the run.
void pre_focus_of_target(ControlMatrix_t *cm, int target)
{
    ControlMatrix_t *out = cm;
    int index = target, closing = 0;
    char *text = nullptr;
    cinvoke_basic_routine(cm, &out, AC_PRE_FOCUS, &index, nullptr, global_data, "IP$", "", 0, 0, &text, &closing, 0);
    g_free(text);
    if (closing) Abort("Not permitted to destroy the window in the Pre_Focus Action Code");
}

} // namespace

// ---- Small questions -----------------------------------------------------------------------------------------

int cmat_max_fields(const ControlMatrix_t *cm) { return cm->field_count; }

int cmat_max_prompts(const ControlMatrix_t *cm)
{
    int highest = 0;
    for (int i = 1; i <= cm->field_count; ++i) highest = std::max(highest, cm->field[i - 1].prompt);
    return highest;
}

int cmat_set_focus_anychange(ControlMatrix_t *cm)
{
    const int ac = cmat_get_anychange(cm, 0);
    if (ac < 1) return cm->current_focus;
    cmat_set_focus_index(cm, ac);
    return ac;
}

int cmat_clear_anychange(ControlMatrix_t *cm)
{
    const int ac = cmat_get_anychange(cm, 0);
    if (ac < 1) return cm->current_focus;
    void *entry = cm_field(cm, ac).entry;
    if (entry && cm_windows_mode()) {
        if (handle_kind(entry) != 0 || !GTK_IS_EDITABLE(entry)) assertion_failed(__FILE__, __LINE__, "GTK_IS_EDITABLE(entry)");
        gtk_editable_set_text(GTK_EDITABLE(entry), "");
    }
    return ac;
}

// ---- The walks --------------------------------------------------------------------------------------------------

int cmat_get_focus_on_tab(ControlMatrix_t *cm, int from)
{
    FORMS_TRACE;
    Walk w = make_walk(cm, Rule::tab, from);
    if (w.max < 1) return from;
    const int stop = w.run(w.forward_start(from == w.ac ? 1 : from + 1));
    return stop ? stop : from;
}

int cmat_set_focus_on_tab(ControlMatrix_t *cm, int from) { return focus_on(cm, cmat_get_focus_on_tab(cm, from)); }

int cmat_get_focus_on_left_tab(ControlMatrix_t *cm, int from)
{
    FORMS_TRACE;
    Walk w = make_walk(cm, Rule::back, from);
    if (from >= 1) {
        w.from_type = type_of_from(w);
        if (!valid_type(w.from_type)) Abort("Invalid Program Control Matrix Tab Sequence Type %d (d)", w.from_type);
    }
    if (w.max < 1) return from;
    int c = w.from_type == TAB_ANYCHANGE && from != w.max ? w.max : from - 1;
    if (c == w.ac) --c;
    if (c < 1) c = w.ac;
    const int stop = w.run(c);
    return stop ? stop : from;
}

int cmat_set_focus_on_left_tab(ControlMatrix_t *cm, int from, int)
{
    return focus_on(cm, cmat_get_focus_on_left_tab(cm, from));
}

int cmat_set_focus_next(ControlMatrix_t *cm, int from)
{
    FORMS_TRACE;
    Walk w = make_walk(cm, Rule::next, from);
    int first = 1;
    if (from >= 1) {
        w.from_type = type_of_from(w);
        if (!valid_type(w.from_type)) Abort("Invalid Program Control Matrix Tab Sequence Type %d (c)", w.from_type);
        first = w.from_type == TAB_ANYCHANGE || from == w.ac ? 1 : from + 1;
    }
    int target = from;
    if (w.max >= 1) {
        target = w.run(w.forward_start(first));
        if (!target) {
            // Nothing stops the walk (there is no AnyChange field): the last field, unless a table
            // stands there, which cannot take the focus; then it stays where it was.
            target = w.max;
            if (cset_cm_get_int(cm, CM_TYPE, target) == WIDGET_TABLE) target = from;
        }
    }
    return focus_on(cm, target);
}

int cfocus_invoke_pre_on_skip(ControlMatrix_t *cm, int index)
{
    FORMS_TRACE;
    cinvoke_post_display_init(cm, index);
    ControlMatrix_t *out = cm;
    int at = index, closing = 0;
    char *text = nullptr;
    cinvoke_basic_routine(cm, &out, AC_PRE_FOCUS, &at, nullptr, global_data, "IP$", "", 0, 0, &text, &closing, 0);
    g_free(text);
    if (closing) Abort("Not permitted to destroy the window for the Pre_Focus Action Code on a Skip field");
    if (at != index)
        Abort("Not permitted to change focus from a function attached with the Pre_Focus Action Code when skipping field "
              "for Tab Sequence Type Skip at index %d",
              index);
    return cm->field_count;
}

// ---- Giving the focus ---------------------------------------------------------------------------------------------

void cmat_set_focus_index(ControlMatrix_t *cm, int index)
{
    FORMS_TRACE;
    void *entry = cset_cm_get_ptr(cm, CM_ENTRY_PTR, index);
    const int type = cset_cm_get_int(cm, CM_TYPE, index);
    const bool windows = cm_windows_mode();
    if (windows && (!entry || handle_kind(entry) < 0))
        Abort("No widget id recorded in Entry field for Control Matrix index %d", index);
    // The program's rules hold with or without widgets.
    switch (type) {
    case WIDGET_TABLE:
        Abort("Attempting to set focus to a Table at Index %d; Change the Tab Sequence Type to Display Only (i.e. No "
              "Focus)",
              index);
    case WIDGET_LABEL: {
        const int tab = cset_cm_get_int(cm, CM_TAB_SEQ, index);
        if (tab != TAB_SKIP && tab != TAB_NO_FOCUS && tab != TAB_SKIP_NOT_ANYCHANGE)
            Abort("A Label at index %d, Tab Sequence %d, may only have a Tab Sequence of 4, 6, or 8", index, tab);
        break;
    }
    default:
        if (type < 1 || type > WIDGET_MAX) Abort("cmat_set_focus_index: Invalid Widget Type %d; Index %d", type, index);
        break;
    }

    if (windows) {
        if (GtkWidget *widget = field_focus_widget(cm, index, entry, type)) {
            gtk_widget_grab_focus(widget);
            // An input or date field is entered with its whole text selected.
            if ((type == WIDGET_INPUT || type == WIDGET_DATE) && GTK_IS_EDITABLE(widget))
                gtk_editable_select_region(GTK_EDITABLE(widget), 0, -1);
        }
    }
    cm->current_focus = index;
    if (windows) cfocus_set_scrolled_window(cm, index);
}

void cfocus_keyboard_back(ControlMatrix_t *cm)
{
    const int index = cm ? cm->current_focus : 0;
    if (index < 1 || index > cm->field_count || !cm_windows_mode()) return;
    const CmField_t &field = cm_field(cm, index);
    if (!field.entry || handle_kind(field.entry) < 0) return;
    GtkWidget *widget = field_focus_widget(cm, index, field.entry, field.type);
    GtkRoot *root = widget ? gtk_widget_get_root(widget) : nullptr;
    GtkWidget *focused = root ? gtk_root_get_focus(root) : nullptr;
    if (!widget || focused == widget || (focused && gtk_widget_is_ancestor(focused, widget))) return;
    if (focused && cget_index_for_ptr(cm, CM_ENTRY_PTR, focused, 0) == index) return;  // another part of it
    gtk_widget_grab_focus(widget);
}


void cfocus_set_scrolled_window(ControlMatrix_t *cm, int index)
{
    if (index < 1 || index > cm->field_count || !cm->scrolled_windows) return;
    GtkWidget *widget = cget_widget_for_widget(cm_field(cm, index).entry);
    if (!widget) return;
    GtkWidget *window = cm->window == CM_WINDOWLESS && !cm->next ? nullptr : cget_window_for_cm(global_data, cm);
    for (const ScrolledWindow_t *s = cm->scrolled_windows; s; s = s->next) {
        // Only a scrolled window the field lies in is looked at (one that has gone never is).
        GtkWidget *up = gtk_widget_get_parent(widget);
        while (up && up != window && up != s->scrolled_window) up = gtk_widget_get_parent(up);
        if (!up || up != s->scrolled_window || !GTK_IS_SCROLLED_WINDOW(up)) continue;
        GtkWidget *viewport = gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(up));
        if (!viewport || !GTK_IS_VIEWPORT(viewport)) continue;
        GtkWidget *child = gtk_viewport_get_child(GTK_VIEWPORT(viewport));
        graphene_rect_t bounds;
        if (!child || !gtk_widget_compute_bounds(widget, child, &bounds)) continue;
        GtkAdjustment *vadj = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(viewport));
        if (!vadj) assertion_failed(__FILE__, __LINE__, "vadj");
        GtkAdjustment *hadj = gtk_scrollable_get_hadjustment(GTK_SCROLLABLE(viewport));
        if (!hadj) assertion_failed(__FILE__, __LINE__, "hadj");
        scroll_to_view(hadj, bounds.origin.x, bounds.size.width);
        scroll_to_view(vadj, bounds.origin.y, bounds.size.height);
    }
}

void scroll_to_view(GtkAdjustment *adjustment, double position, double size)
{
    const double value = gtk_adjustment_get_value(adjustment);
    const double page = gtk_adjustment_get_page_size(adjustment);
    const double upper = gtk_adjustment_get_upper(adjustment);
    double moved;
    if (value > position)
        moved = position;
    else if (position + size >= value + page)
        moved = position + size - page;
    else
        return;
    if (moved > upper - page) moved = upper - page;
    gtk_adjustment_set_value(adjustment, moved);
}

void cfocus_window_present(ControlMatrix_t *cm)
{
    if (!cm || cm->next || cm == global_data->presented_cm) return;
    GtkWindow *window = cm_real_window(cm);
    if (!window) return;
    global_data->presented_cm = cm;
    gtk_window_present(window);
    if (cm->current_focus < 1 || cm->current_focus > cm->field_count) return;
    // A field being edited keeps its cursor and selection (a date's cursor stands where the next
    // digit goes): it only gets the keyboard back.
    if (cm->current_focus == cm->edit_field)
        cfocus_keyboard_back(cm);
    else
        cmat_set_focus_index(cm, cm->current_focus);
}

// ---- The consistency check ------------------------------------------------------------------------------------------

void cmat_val_prompts(ControlMatrix_t *cm)
{
    int prior = 0;
    for (int i = 1; i <= cm->field_count; ++i) {
        const int prompt = cm_field(cm, i).prompt;
        if (prompt <= 0) continue;
        if (prompt != prior + 1) Abort("Prompt number %d not one greater than the prior prompt %d", prompt, prior);
        prior = prompt;
    }
}

void cset_do_validation(ControlMatrix_t *cm)
{
    FORMS_TRACE;
    cmat_val_prompts(cm);
    check_attachments(cm);
    check_fields(cm);
}

// ---- ICSET_FOCUS ----------------------------------------------------------------------------------------------------------

void cset_focus(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 2) Abort("Invalid number of parameters to icset_focus");
    ControlMatrix_t *cm = cm_argument(nargs, last, 0, "Must set the Process Control Matrix first");
    const Stack &field = arg(nargs, last, 1);
    int target;
    if (field.s_t == real)
        target = intr::integer(field);
    else if (field.s_t == string)
        target = cset_cm_get_index(cm, CM_NAME, intr::text(field), 1);
    else
        Abort("Invalid data type to second parameter");

    const bool first = !cm->focus_initialised;
    if (first) {
        cset_do_validation(cm);
        cm->focus_initialised = 1;
    }
    if (first || cm->current_focus == 0) {
        pre_focus_of_target(cm, target);
        if (first && cm->current_focus != 0) Abort("Illegal focus %d in initial call to icset_focus", cm->current_focus);
    }

    cinvoke_set_enabled(cm, nullptr);
    cutil_set_active_function_keys(cm, target);
    cm->focus_request = 1;
    if (!cset_cm_get_int(cm, CM_ENABLED, target)) Abort("Field %d is not enabled, not permitted to icset_focus", target);
    cm_resources().paint_colour_tables(cm);
    cmat_set_focus_index(cm, target);

    if (first) {
        // The newest window's focused field becomes editable, unless it is a zoom pick-list, a
        // window above another form, or a soft-key button is replaying its key.
        ControlMatrix_t *newest = cm;
        while (newest->next) newest = newest->next;
        const bool over_menu = newest->prior ? newest->prior->type == CM_WT_MENU : newest->type != CM_WT_MENU;
        if (over_menu && newest->type != CM_WT_ZOOM && !newest->softkey_event) cinvoke_pre_display(newest);
    }
    GlobalData_t *gd = global_data;
    if (gd->first_cm && gd->first_cm->next && (first || !cm->next || cm->next->type != CM_WT_ZOOM))
        ccallbacks_change_cursor();
}
