// The amounts of the note edit window: the Add Amount action, inserting an amount into the element
// list, and the intrinsics through which a program's Get_Note_Amount routine reads, sets and
// deletes the current amount from a window it opened over the edit window.
// gnote_edit_amounts_install connects Add Amount to the window's action.
#include <cstring>

#include <gdk/gdkkeysyms.h>

#include "cases.h"
#include "ccallback.h"
#include "cevents.h"
#include "cinvoke.h"
#include "cmatrix.h"
#include "gdata.h"
#include "gnote_edit_parts.h"
#include "gnote_store.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"

namespace {

using intr::arg;

bool is_amount(const NoteElement_t *e) { return e->type == CM_GNOTE_NOTE_TYPE_AM; }

// The element an amount is inserted after or written into: a paragraph or an amount as it is; a
// hidden paragraph or a tag stands for the nearest paragraph before it, so that the new amount
// still follows a paragraph (nullptr when there is none).
NoteElement_t *amount_anchor(NoteElement_t *e)
{
    if (e->type == CM_GNOTE_NOTE_TYPE_P || is_amount(e)) return e;
    if (e->type != CM_GNOTE_NOTE_TYPE_HIDE && e->type != CM_GNOTE_NOTE_TYPE_TAG) Abort("Unexpected note type");
    for (NoteElement_t *b = e->prior; b; b = b->prior)
        if (b->type == CM_GNOTE_NOTE_TYPE_P) return b;
    return nullptr;
}

NoteElement_t *new_paragraph(NoteData_t *n, int selected)
{
    NoteElement_t *p = gmenu_parse_xml_add_tag(n, "p");
    p->p.text = Strcpy("");
    p->selected = selected;
    return p;
}

void write_settings(NoteElement_t *a, const dec_t *value, int required, int next, int protect, int orsecvalue,
                    int orsec)
{
    a->am.required = required;
    a->am.next = next;
    a->am.protect = protect;
    a->am.orsecvalue = orsecvalue;
    a->am.orsec = orsec;
    NumericCopy(&a->am.value, value);
}

// The new amount A after paragraph F, by what follows F.
NoteElement_t *insert_after_paragraph(NoteData_t *n, NoteElement_t *f)
{
    NoteElement_t *x = f->next;
    NoteElement_t *a = gmenu_parse_xml_add_tag(n, "am");
    a->selected = f->selected;
    if (x && x->type == CM_GNOTE_NOTE_TYPE_P) {  // F, A, X
        note_link_after(f, a);
    } else if (!x || x->type == CM_GNOTE_NOTE_TYPE_TAG || x->type == CM_GNOTE_NOTE_TYPE_HIDE) {  // F, A, P[, X]
        note_link_after(f, a);
        note_link_after(a, new_paragraph(n, f->selected));
    } else {  // F, N, P, A[, Q], X: the amount N keeps its place after F
        if (!x->next) {
            gnote_free_xml_am(&a);
            Abort("Failed to find a pair of elements following a paragraph");
        }
        NoteElement_t *p = new_paragraph(n, f->selected);
        note_link_after(x, p);
        note_link_after(p, a);
        if (a->next->type == CM_GNOTE_NOTE_TYPE_TAG) note_link_after(a, new_paragraph(n, f->selected));
    }
    return a;
}

// Inserts an amount of these settings after the current paragraph (an empty paragraph keeping it
// apart from what follows where needed), or overwrites the current amount; the views are rebuilt
// with the amount's text selected. A current hidden paragraph or tag stands for the nearest
// paragraph before it; with none, nothing happens.
void gnote_add_amount_field(NoteData_t *note, const dec_t *value, int required, int next, int protect,
                            int orsecvalue, int orsec)
{
    FORMS_TRACE;
    // Nothing is touched when there is no paragraph for the amount to follow.
    if (!amount_anchor(gnote_get_current_focus(note))) return;
    gnote_remove_sigs(note->note);
    gnote_parse_text2XML(note);
    NoteElement_t *current = gnote_get_current_focus(note);
    current->focus = 0;
    NoteElement_t *f = amount_anchor(current);
    NoteElement_t *target = f;
    if (is_amount(f))
        write_settings(f, value, required, next, protect, orsecvalue, orsec);
    else {
        target = insert_after_paragraph(note, f);
        write_settings(target, value, required, next, protect, orsecvalue, orsec);
    }
    target->focus = 1;
    gnote_redraw_note(note, target, 0, -1);
}

// Add Amount: in Template mode the form's Get_Note_Amount routine adds it (with
// IGNOTE_PRINT_AMOUNT); otherwise a nil amount goes after the current paragraph or amount.
void gnote_edit_amount_event(GtkWidget *, NoteData_t *note_data)
{
    const TryLock lock(&note_data->lock);
    if (!lock.taken()) return;
    if (note_data->mode == GNOTE_MODE_TEMPLATE) {
        PROGRAM_ASSERT(note_data->cm);
        ControlMatrix_t *out = nullptr;
        int index = 0, closing = 0;
        char *text = nullptr;
        cinvoke_basic_routine(note_data->cm, &out, AC_GET_NOTE_AMOUNT, &index, nullptr, global_data, "IP$", "", 0, 0,
                              &text, &closing, 0);
        g_free(text);
        if (closing) Abort("Not permitted to exit from window here");
        return;
    }
    if (!amount_anchor(gnote_get_current_focus(note_data))) return;
    gnote_remove_sigs(note_data->note);
    gnote_parse_text2XML(note_data);
    NoteElement_t *note = gnote_get_current_focus(note_data);
    if (is_amount(note)) {
        PROGRAM_ASSERT(note->prior);
        note->focus = 0;
        note->prior->focus = 1;
    }
    dec_t zero;
    NumericCvINT(0, &zero);
    gnote_add_amount_field(note_data, &zero, 1, 1, 0, 0, 0);
}

void gnote_edit_edit_amount_event(GSimpleAction *, GVariant *, gpointer note)
{
    forms_callback([&] {
        auto *n = static_cast<NoteData_t *>(note);
        if (!n->edit_scroller) return;
        if (!gnote_edit_refused(n, GdkModifierType(0), GDK_KEY_space)) gnote_edit_amount_event(nullptr, n);
        // In Template mode the program's routine may open and close windows of its own over the
        // edit window: the end of the event destroys those, and gives the edit window the keys
        // again.
        ccallbacks_finish_event(1, 0);
    });
}

} // namespace

void gnote_round_amount(dec_t *value)
{
    if (value->dec_pos == -1) return;
    char field[GNOTE_AMOUNT_TEXT_MAX + 1];
    if (NumericToASC(value, field, GNOTE_AMOUNT_TEXT_MAX, 2) != 0) return;
    field[GNOTE_AMOUNT_TEXT_MAX] = '\0';
    const int length = static_cast<int>(std::strcspn(field, " "));
    dec_t rounded;
    if (length > 0 && NumericCvASC(field, length, &rounded) == 0) *value = rounded;
}

void gnote_edit_amounts_install(GActionMap *actions, NoteData_t *note)
{
    gnote_edit_on_action(actions, "amount", G_CALLBACK(gnote_edit_edit_amount_event), note);
}

// ---- The intrinsics ------------------------------------------------------------------------------------

NoteData_t *gnote_edit_window_note(int nargs, int last, const char *intrinsic)
{
    ControlMatrix_t *cm = cutil_get_cm(global_data, &arg(nargs, last, 0));
    if (!cm) Abort("Must set the Process Control Matrix first");
    if (!cm->prior || cm->prior->type != CM_WT_NOTE || !cm->prior->window_data)
        Abort("An attept was made to run %s in context other than for a Note edit window", intrinsic);
    return static_cast<NoteData_t *>(cm->prior->window_data);
}

namespace {

// IGNOTE_GET_AMOUNT, IGNOTE_PRINT_AMOUNT and IGNOTE_DELETE_AMOUNT, on the matrix of a window
// opened over the note edit window.
void ignote_get_amount(int nargs, int last, Stack *result)
{
    mlog(3, "Do ignote_get_amount");
    if (nargs != 7) Abort("ignote_get_amount must have seven parameters");
    NoteData_t *n = gnote_edit_window_note(nargs, last, "ignote_print_amount");
    const NoteElement_t *e = gnote_get_current_focus(n);
    if (is_amount(e)) {
        gnote_store_number(arg(nargs, last, 1), e->am.value, "IGNOTE_GET_AMOUNT");
        gnote_store_int(arg(nargs, last, 2), e->am.required, "IGNOTE_GET_AMOUNT");
        gnote_store_int(arg(nargs, last, 3), e->am.next, "IGNOTE_GET_AMOUNT");
        gnote_store_int(arg(nargs, last, 4), e->am.protect, "IGNOTE_GET_AMOUNT");
        gnote_store_int(arg(nargs, last, 5), e->am.orsecvalue, "IGNOTE_GET_AMOUNT");
        gnote_store_int(arg(nargs, last, 6), e->am.orsec, "IGNOTE_GET_AMOUNT");
        intr::set_number(result, 1);
        return;
    }
    constexpr int defaults[6] = {0, 1, 1, 0, 0, 0};
    for (int i = 0; i < 6; ++i) gnote_store_int(arg(nargs, last, 1 + i), defaults[i], "IGNOTE_GET_AMOUNT");
    intr::set_number(result, 0);
}

void ignote_print_amount(int nargs, int last)
{
    mlog(3, "Do ignote_print_amount");
    if (nargs != 7) Abort("ignote_print_amount must have seven parameters");
    NoteData_t *n = gnote_edit_window_note(nargs, last, "ignote_print_amount");
    dec_t value = *intr::number(arg(nargs, last, 1));
    gnote_round_amount(&value);
    int settings[5];
    for (int i = 0; i < 5; ++i) settings[i] = intr::integer(arg(nargs, last, 2 + i));
    gnote_add_amount_field(n, &value, settings[0], settings[1], settings[2], settings[3], settings[4]);
}

void ignote_delete_amount(int nargs, int last)
{
    mlog(3, "Do ignote_delete_amount");
    if (nargs != 1) Abort("ignote_delete_amount must have one parameter");
    delete_amount(gnote_edit_window_note(nargs, last, "ignote_delete_amount"));
}

constexpr IntrinsicRow amount_rows[] = {
    {in_IGNOTE_GET_AMOUNT, ignote_get_amount, ANY_COUNT, WINDOWS_ONLY},
    {in_IGNOTE_PRINT_AMOUNT, ignote_print_amount, ANY_COUNT, WINDOWS_ONLY},
    {in_IGNOTE_DELETE_AMOUNT, ignote_delete_amount, ANY_COUNT, WINDOWS_ONLY},
};

} // namespace

std::span<const IntrinsicRow> gnote_amount_intrinsics() { return amount_rows; }
