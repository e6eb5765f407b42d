// Field rows: element access, lookups by name, prompt number and widget, insertion and removal.
#include "cfield.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "cattach.h"
#include "handles.h"
#include "kinds.h"
#include "message.h"

namespace {

unsigned long hex(const void *p) { return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(p)); }

bool valid_index(const ControlMatrix_t *cm, int index) { return index >= 1 && index <= cm->field_count; }

bool is_int_element(int element)
{
    return element == CM_PROMPT || element == CM_TAB_SEQ || element == CM_ENABLED || element == CM_TYPE ||
           element == CM_VALID;
}

int &int_element(CmField_t &f, int element)
{
    switch (element) {
    case CM_PROMPT: return f.prompt;
    case CM_TAB_SEQ: return f.tab_seq;
    case CM_ENABLED: return f.enabled;
    case CM_TYPE: return f.type;
    default: return f.valid;
    }
}

bool name_is(const char *name, std::string_view text)
{
    return name && std::strlen(name) == text.size() && std::memcmp(name, text.data(), text.size()) == 0;
}

// What a compound field's entry (a field record) is bound through: the internal code of its
// setup record and the words of the binding messages.
struct Compound {
    int kind, code;
    const char *article, *word;
};
constexpr Compound compounds[] = {
    {CM_FIELD_TYPE_GNOTE, AC_NOTE_SETUP, "a", "Note"},
    {CM_FIELD_TYPE_GCOMBO, AC_COMBO_SETUP, "a", "Combo"},
    {CM_FIELD_TYPE_GCHECKBOX, AC_CHECKBOX_SETUP, "a", "Check Box"},
    {CM_FIELD_TYPE_GLABEL, AC_LABEL_SETUP, "a", "Label"},
    {CM_FIELD_TYPE_GIMAGE, AC_IMAGE_SETUP, "an", "Image"},
    {CM_FIELD_TYPE_GTOGGLE_BUTTON, AC_TOGGLE_SETUP, "a", "Toggle Button"},
    {CM_FIELD_TYPE_GRADIO_BUTTON, AC_RADIO_SETUP, "a", "Radio Button"},
    {CM_FIELD_TYPE_GTEXT, AC_TEXT_SETUP, "a", "Text box"},
};

// The record of code at index ind whose field record is setup, else nullptr.
SubControlMatrix_t *holding(ControlMatrix_t *cm, int ind, int code, const void *setup)
{
    for (SubControlMatrix_t *s = cmat_get_scm(cm, ind, code); s; s = cattach_next_same(s))
        if (s->setup == setup) return s;
    return nullptr;
}

// The setup record a compound entry was made with, found (before any renumbering) at index 0 or
// at the new row's index; the run ends when none holds it.
SubControlMatrix_t *setup_of(ControlMatrix_t *cm, const Compound &c, const void *entry, int row)
{
    if (SubControlMatrix_t *s = holding(cm, 0, c.code, entry)) return s;
    if (SubControlMatrix_t *s = holding(cm, row, c.code, entry)) return s;
    if (cmat_get_scm(cm, 0, c.code)) {
        if (c.kind == CM_FIELD_TYPE_GNOTE)
            Abort("Attempting to add a Note at Index %d, different to the previously created Note of Index zero of "
                  "Index zero",
                  row);
        Abort("Attempting to add %s %s at Index %d, different to the previously created %s of Index zero", c.article,
              c.word, row, c.word);
    }
    if (cmat_get_scm(cm, row, c.code))
        Abort("Attempting to add %s %s at Index %d, different to the previously created %s of Index %d", c.article,
              c.word, row, c.word, row);
    Abort("Attempting to add %s %s at Index %d, when no %s exists with Index zero or index %d", c.article, c.word, row,
          c.word, row);
}

// Records the new row binds: the entry's setup record (and a note's F9 record), or the waiting
// input and date setup records of a plain widget entry.
struct Binding {
    SubControlMatrix_t *records[2] = {};
};

Binding bind_entry(ControlMatrix_t *cm, const void *entry, int row)
{
    Binding b;
    if (!entry) return b;
    const int kind = handle_kind(entry);
    if (kind == 0) {
        b.records[0] = cmat_get_scm(cm, 0, AC_INPUT_SETUP);
        b.records[1] = cmat_get_scm(cm, 0, AC_DATE_SETUP);
        return b;
    }
    const Compound *c = std::find_if(std::begin(compounds), std::end(compounds),
                                     [kind](const Compound &x) { return x.kind == kind; });
    if (c == std::end(compounds)) Abort("Compound widget type %d not found", kind);
    b.records[0] = setup_of(cm, *c, entry, row);
    if (kind == CM_FIELD_TYPE_GNOTE) {
        SubControlMatrix_t *f9 = cmat_get_scm(cm, 0, AC_NOTE_F9);
        if (!f9) f9 = cmat_get_scm(cm, row, AC_NOTE_F9);
        if (!f9) Abort("Failed to find F9 associated with a Note at index %d", row);
        b.records[1] = f9;
    }
    return b;
}

void make_room(ControlMatrix_t *cm)
{
    if (cm->field_count < cm->field_capacity) return;
    const int capacity = std::max(8, cm->field_capacity * 2);
    cm->field = g_renew(CmField_t, cm->field, capacity);
    cm->field_capacity = capacity;
}

// The CM's own field indexes follow the rows: those above `from` move by delta.
void shift_focus(ControlMatrix_t *cm, int from, int delta)
{
    for (int *v : {&cm->current_focus, &cm->edit_field, &cm->event_index, &cm->return_focus})
        if (*v >= from) *v += delta;
}

} // namespace

// ---- Element access ----------------------------------------------------------------------------------

const char *_cset_cm_get_chr(ControlMatrix_t *cm, int element, int index, int)
{
    if (element < 1 || element > CM_MAX) Abort("Index into Control Matrix out of range (a): %d", element);
    if (!valid_index(cm, index)) Abort("Invalid Control Matrix index (b): %d @ %s", index, "cset_cm_get_chr");
    if (element != CM_NAME) Abort("Unexpected element %d of cset_cm_get_chr", element);
    return cm_field(cm, index).name;
}

int _cset_cm_get_int(ControlMatrix_t *cm, int element, int index, int line)
{
    if (element < 1 || element > CM_MAX)
        Abort("Index into Control Matrix out of range (b): %d @ %s:%d", element, "cset_cm_get_int", line);
    if (!valid_index(cm, index)) {
        if (cm->type == CM_WT_ZOOM) return 0;
        Abort("Invalid Control Matrix index (b): %d @ %s:%d", index, "cset_cm_get_int", line);
    }
    if (!is_int_element(element)) Abort("Unexpected element %d of cset_cm_get_int", element);
    return int_element(cm_field(cm, index), element);
}

void *_cset_cm_get_ptr(ControlMatrix_t *cm, int element, int index, int)
{
    if (element < 0 || element > CM_MAX) Abort("Index into Control Matrix out of range (c): %d", element);
    if (!valid_index(cm, index)) Abort("Invalid Control Matrix index (b): %d @ %s", index, "cset_cm_get_ptr");
    CmField_t &f = cm_field(cm, index);
    switch (element) {
    case 0:
        if (!f.label) Abort("Must provide a Prompt, even if it is just a blank");
        return gtk_widget_get_parent(f.label);
    case CM_LABEL_PTR: return f.label;
    case CM_ENTRY_PTR: return f.entry;
    case CM_DES_PTR: return f.description;
    default: Abort("Unexpected element %d of cset_cm_get_ptr", element);
    }
}

void _cset_cm_put_int(ControlMatrix_t *cm, int element, int index, int value, int)
{
    if (element < 1 || element > CM_MAX) Abort("Index into Control Matrix out of range (h): %d", element);
    if (!valid_index(cm, index)) Abort("Invalid Control Matrix index (b): %d @ %s", index, "cset_cm_put_int");
    if (!is_int_element(element)) Abort("Unexpected element %d of cset_cm_put_int", element);
    int &slot = int_element(cm_field(cm, index), element);
    if (element == CM_ENABLED && slot != value) ++cm->enabled_changes;
    slot = value;
}

void _cset_cm_put_ptr(ControlMatrix_t *cm, int element, int index, void *value, int)
{
    if (element < 1 || element > CM_MAX) Abort("Index into Control Matrix out of range (d): %d", element);
    if (!valid_index(cm, index)) Abort("Invalid Control Matrix index (b): %d @ %s", index, "cset_cm_put_ptr");
    CmField_t &f = cm_field(cm, index);
    switch (element) {
    case CM_LABEL_PTR: f.label = static_cast<GtkWidget *>(value); break;
    case CM_ENTRY_PTR: f.entry = value; break;
    case CM_DES_PTR: f.description = value; break;
    default: Abort("Unexpected element %d of cset_cm_put_ptr", element);
    }
}

// ---- Lookups ----------------------------------------------------------------------------------------------

int cset_cm_get_index(ControlMatrix_t *cm, int element, std::string_view name, int must_exist)
{
    if (element < 1 || element > CM_MAX) Abort("Index into Control Matrix out of range (g): %d", element);
    if (name == "EndIndex") return cm->field_count;
    if (name == "AnyChange") return cmat_get_anychange(cm, 1);
    for (int i = 1; i <= cm->field_count; ++i)
        if (name_is(cm_field(cm, i).name, name)) return i;
    if (must_exist)
        Abort("Field name '%s' not found in the Control Matrix %lX (g)", std::string(name).c_str(), hex(cm));
    return -1;
}

int cget_index_for_int(ControlMatrix_t *cm, int element, int value)
{
    if (element < 1 || element > CM_MAX) Abort("Index into Control Matrix out of range (j): %d", element);
    if (element != CM_PROMPT) Abort("Invalid use of cget_index_for_int");
    for (int i = 1; i <= cm->field_count; ++i)
        if (cm_field(cm, i).prompt == value) return i;
    Abort("Integer value '%d' not found in the Control Matrix (j)", value);
}

int cget_index_for_ptr(ControlMatrix_t *cm, int element, const void *widget, int must_exist)
{
    if (element < 1 || element > CM_MAX) Abort("Index into Control Matrix out of range (k): %d", element);
    if (element != CM_ENTRY_PTR) Abort("cget_index_for_ptr not yet coded for other than Entry field");
    GtkWidget *parent = cmat_widget_get_parent(widget);
    for (int i = 1; i <= cm->field_count; ++i)
        if (cmat_cmp_widget(cm_field(cm, i).entry, widget, parent)) return i;
    if (must_exist && cm->type != CM_WT_ZOOM) Abort("Widget pointer %lX not found in the Control Matrix (k)", hex(widget));
    return -1;
}

int cmat_cmp_widget(const void *entry, const void *widget, const void *parent)
{
    if (!entry) return 0;
    const int kind = handle_kind(entry);
    if (kind > 0) {
        if (entry == widget) return 1;
        const RecordKindHooks &row = record_kind(kind);
        return row.owns && widget && row.owns(entry, static_cast<const GtkWidget *>(widget)) ? 1 : 0;
    }
    // A widget that has gone matches nothing, even where its address has been reused.
    return kind == 0 && (entry == widget || entry == parent) ? 1 : 0;
}

GtkWidget *cmat_widget_get_parent(const void *entry)
{
    if (!entry) return nullptr;
    if (handle_record(reinterpret_cast<std::uintptr_t>(entry))) return cget_widget_for_widget(entry);
    auto *widget = const_cast<GtkWidget *>(static_cast<const GtkWidget *>(entry));
    GtkWidget *parent = gtk_widget_get_parent(widget);
    return !parent || GTK_IS_GRID(parent) ? widget : parent;
}

GtkWidget *cget_widget_for_widget(const void *entry)
{
    if (!entry) return nullptr;
    const int kind = handle_kind(entry);
    if (kind > 0) {
        const RecordKindHooks &row = record_kind(kind);
        if (!row.principal) kind_not_available(kind);
        return row.principal(entry);
    }
    return const_cast<GtkWidget *>(static_cast<const GtkWidget *>(entry));
}

GtkWidget *cget_label_for_widget(const void *description)
{
    if (!description) return nullptr;
    const int kind = handle_kind(description);
    if (kind < 0) return nullptr;
    GtkWidget *label = const_cast<GtkWidget *>(static_cast<const GtkWidget *>(description));
    if (kind > 0) {
        if (kind != CM_FIELD_TYPE_GLABEL) Abort("cget_label_for_widget: Unexpected widget type encountered %d", kind);
        const RecordKindHooks &row = record_kind(kind);
        if (!row.label) kind_not_available(kind);
        label = row.label(description);
    }
    return label && GTK_IS_LABEL(label) ? label : nullptr;
}

int cget_label_is_widget(const void *description)
{
    const int kind = description ? handle_kind(description) : -1;
    if (kind > 0 && kind != CM_FIELD_TYPE_GLABEL)
        Abort("cget_label_is_widget: Unexpected widget type encountered %d", kind);
    return cget_label_for_widget(description) ? 1 : 0;
}

int cutil_count(ControlMatrix_t *cm, int element, int value)
{
    int n = 0;
    for (int i = 1; i <= cm->field_count; ++i)
        if (cm_field(cm, i).enabled && cset_cm_get_int(cm, element, i) == value) ++n;
    return n;
}

int cmat_get_anychange(ControlMatrix_t *cm, int must_exist)
{
    for (int i = cm->field_count; i >= 1; --i)
        if (cm_field(cm, i).tab_seq == TAB_ANYCHANGE) return i;
    if (must_exist) Abort("No anychange field found");
    return -1;
}

// ---- Insertion and removal -------------------------------------------------------------------------------

int cadd_field(ControlMatrix_t *cm, int after, std::string_view name, int prompt, GtkWidget *label, void *entry,
               void *description, int tab_seq, int enabled, int type, int valid)
{
    const int count = cm->field_count;
    if (after < -1 || after > count) Abort("Insertion index not valid");
    const int p = after == -1 ? count : after;
    const int row = p + 1;
    PROGRAM_ASSERT(cm->field || count == 0);

    // The entry's records are found first: the records of the rows that move are renumbered
    // next, and a record made for the new row's index must not move with them.
    const Binding b = bind_entry(cm, entry, row);
    cattach_shift(cm, p == count ? row + 1 : row, 1, b.records[0], b.records[1]);
    for (SubControlMatrix_t *s : b.records)
        if (s) cattach_set_ind(cm, s, row);

    make_room(cm);
    std::memmove(cm->field + p + 1, cm->field + p, sizeof(CmField_t) * static_cast<std::size_t>(count - p));
    cm->field[p] = CmField_t{g_strndup(name.data(), name.size()), prompt, label, entry, description, tab_seq,
                             enabled, type, valid};
    cm->field_count = count + 1;
    ++cm->enabled_changes;
    shift_focus(cm, row, 1);
    return row;
}

void cremove_ind(ControlMatrix_t *cm, int first, int last)
{
    if (first > last) Abort("The start index must be less than the finish index");
    if (first < 1) Abort("The start index must be greater than zero");
    if (last > cm->field_count)
        Abort("The finish index %d must not be greater than the number of fields %d", last, cm->field_count);
    if (global_data->log_level_lumbas > 1)
        mlog(1, "icremove Start = %d; End = %d; Current %d", first, last, cm->current_focus);
    const int n = last - first + 1;
    for (int i = first; i <= last; ++i) g_free(cm_field(cm, i).name);
    std::memmove(cm->field + first - 1, cm->field + last,
                 sizeof(CmField_t) * static_cast<std::size_t>(cm->field_count - last));
    cm->field_count -= n;
    ++cm->enabled_changes;
    if (cm->field_count == 0) {
        g_free(cm->field);
        cm->field = nullptr;
        cm->field_capacity = 0;
    }
    cattach_remove_rows(cm, first, last);
    // A field index that named a removed row names the nearest remaining one (the row that came
    // after them, else the one before), or none; the editing state of a removed row is gone.
    const int nearest = first <= cm->field_count ? first : first - 1;
    for (int *v : {&cm->current_focus, &cm->event_index, &cm->return_focus})
        if (*v >= first && *v <= last) *v = nearest;
    if (cm->edit_field >= first && cm->edit_field <= last) cm->edit_field = 0;
    shift_focus(cm, last + 1, -n);
}

// ---- Sensitivity from the Enabled flags ---------------------------------------------------------------

namespace {

// The names of Widget Types in the sensitivity messages.
constexpr const char *type_names[] = {
    nullptr, "Input", "Table", "Button", "Combo", "Check Box", "Image", "Date", "Note", "Label", "Toggle Button",
    "Radio Button", "Text",
};
// The record kind a field of each Widget Type holds as its entry; 0: a plain widget.
constexpr int entry_kind[] = {
    0, 0, 0, 0, CM_FIELD_TYPE_GCOMBO, CM_FIELD_TYPE_GCHECKBOX, CM_FIELD_TYPE_GIMAGE, 0, CM_FIELD_TYPE_GNOTE,
    CM_FIELD_TYPE_GLABEL, CM_FIELD_TYPE_GTOGGLE_BUTTON, CM_FIELD_TYPE_GRADIO_BUTTON, CM_FIELD_TYPE_GTEXT,
};

void check_type(int type)
{
    if (type < 1 || type > WIDGET_MAX) Abort("Unexpected widget type %d", type);
}

void set_widget(GtkWidget *widget, int sensitive)
{
    if (widget && handle_kind(widget) == 0) gtk_widget_set_sensitive(widget, sensitive != 0);
}

// The entry of row index has the kind its Widget Type calls for, else the run ends.
void check_entry(int index, int type, int kind)
{
    const int wanted = entry_kind[type];
    if (kind == wanted) return;
    if (type == WIDGET_LABEL && kind == 0)
        Abort("For field Index %d, defined as type 'Label' (9), a widget of standard type, possibly a Simple Label, "
              "was unexpectedly encountered",
              index);
    Abort("For field Index %d, defined as type '%s' (%d), a widget of type %s was unexpectedly encountered", index,
          type_names[type], type, record_kind_name(kind));
}

void apply_sensitivity(ControlMatrix_t *cm, int index)
{
    CmField_t &f = cm_field(cm, index);
    if (!f.entry) return;
    check_type(f.type);
    const int kind = handle_kind(f.entry);
    if (kind < 0) return;  // the widget has gone: nothing left to change
    check_entry(index, f.type, kind);
    const int sensitive = f.enabled && f.tab_seq != TAB_NO_FOCUS;
    if (kind == 0) {
        if (f.type != WIDGET_TABLE) set_widget(static_cast<GtkWidget *>(f.entry), sensitive);
    } else {
        const RecordKindHooks &row = record_kind(kind);
        if (!row.set_sensitive) kind_not_available(kind);
        row.set_sensitive(cm, index, f.entry, sensitive, f.enabled);
    }
    set_widget(f.label, f.enabled);
    if (f.description) {
        if (handle_kind(f.description) > 0)
            set_widget(cget_label_for_widget(f.description), f.enabled);
        else
            set_widget(static_cast<GtkWidget *>(f.description), f.enabled);
    }
}

} // namespace

int *cinvoke_get_enabled(ControlMatrix_t *cm)
{
    int *flags = g_new(int, cm->field_count + 1);
    flags[0] = cm->field_count;
    for (int i = 1; i <= cm->field_count; ++i) flags[i] = cm_field(cm, i).enabled;
    return flags;
}

void cinvoke_set_enabled(ControlMatrix_t *cm, const int *snapshot)
{
    bool same = snapshot && snapshot[0] == cm->field_count;
    for (int i = 1; same && i <= cm->field_count; ++i) same = snapshot[i] == cm_field(cm, i).enabled;
    if (same) return;
    for (int i = 1; i <= cm->field_count; ++i) apply_sensitivity(cm, i);
}
