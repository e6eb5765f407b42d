// Field rows of a CM: element access by number with its lettered messages, lookups by name,
// prompt number and widget, insertion (ICADD) and removal (ICREMOVE) with the renumbering of the
// attached records, and the intrinsics that read and write single elements.
//
// Every entry, prompt and description element a row holds is 0 or a live handle (handles.h):
// ICADD and the pointer setters refuse anything else, and code that puts elements directly
// (cset_cm_put_ptr) hands over issued handles only.
#pragma once

#include <cstddef>
#include <string_view>

#include "forms.h"

struct Stack;

// ---- Element access (index 1-based). The line is the caller's, for the messages that name it. --------
const char *_cset_cm_get_chr(ControlMatrix_t *cm, int element, int index, int line);
int _cset_cm_get_int(ControlMatrix_t *cm, int element, int index, int line);
void *_cset_cm_get_ptr(ControlMatrix_t *cm, int element, int index, int line);
void _cset_cm_put_int(ControlMatrix_t *cm, int element, int index, int value, int line);
void _cset_cm_put_ptr(ControlMatrix_t *cm, int element, int index, void *value, int line);
#define cset_cm_get_chr(cm, element, index) _cset_cm_get_chr((cm), (element), (index), __LINE__)
#define cset_cm_get_int(cm, element, index) _cset_cm_get_int((cm), (element), (index), __LINE__)
#define cset_cm_get_ptr(cm, element, index) _cset_cm_get_ptr((cm), (element), (index), __LINE__)
#define cset_cm_put_int(cm, element, index, value) _cset_cm_put_int((cm), (element), (index), (value), __LINE__)
#define cset_cm_put_ptr(cm, element, index, value) _cset_cm_put_ptr((cm), (element), (index), (value), __LINE__)

// ---- Lookups ---------------------------------------------------------------------------------------------
// Index of the field named name ("EndIndex": the count; "AnyChange": the AnyChange field); none:
// -1, or with must_exist the run ends.
int cset_cm_get_index(ControlMatrix_t *cm, int element, std::string_view name, int must_exist);
// First field whose prompt number is value.
int cget_index_for_int(ControlMatrix_t *cm, int element, int value);
// First field whose entry element is, owns or contains widget; none: -1, or with must_exist
// (outside a zoom CM) the run ends.
int cget_index_for_ptr(ControlMatrix_t *cm, int element, const void *widget, int must_exist);
// Whether an entry element stands for widget (or its container parent).
int cmat_cmp_widget(const void *entry, const void *widget, const void *parent);
// The container of an entry element: a record's principal widget; a widget's parent, or the
// widget itself when it has none or sits in a grid.
GtkWidget *cmat_widget_get_parent(const void *entry);
// A record's principal widget, or the widget itself.
GtkWidget *cget_widget_for_widget(const void *entry);
// Whether a description element is (or a label record holds) a GtkLabel; that label.
int cget_label_is_widget(const void *description);
GtkWidget *cget_label_for_widget(const void *description);
// Enabled fields whose element equals value.
int cutil_count(ControlMatrix_t *cm, int element, int value);
// The highest-numbered AnyChange field (Tab Sequence Type 7); none: -1, or with must_exist the run ends.
int cmat_get_anychange(ControlMatrix_t *cm, int must_exist);

// ---- Insertion and removal ------------------------------------------------------------------------------
// Inserts a row after row `after` (0: first, -1: append) and returns its index; the entry's field
// record (made before the row, at index 0 or at the new index) is bound to the row, and every
// record, field record and focus index above the new row moves up by one.
int cadd_field(ControlMatrix_t *cm, int after, std::string_view name, int prompt, GtkWidget *label, void *entry,
               void *description, int tab_seq, int enabled, int type, int valid);
// Removes rows first..last with their attached records; what lies above moves down.
void cremove_ind(ControlMatrix_t *cm, int first, int last);

// ---- Sensitivity from the Enabled flags ------------------------------------------------------------
// A new array: element 0 the field count, elements 1..count each field's Enabled flag (g_free it).
int *cinvoke_get_enabled(ControlMatrix_t *cm);
// When any Enabled flag (or the count) differs from the snapshot (nullptr differs from all),
// re-applies the sensitivity of every field's widgets from its Enabled flag and Tab Sequence Type.
void cinvoke_set_enabled(ControlMatrix_t *cm, const int *snapshot);

// ---- Intrinsics -----------------------------------------------------------------------------------------
void cadd(int nargs, int last, Stack *result);                  // ICADD
void cget_field_prompt_no(int nargs, int last, Stack *result);  // ICGET_FIELD_PROMPT_NO
void cget_field_tab_seq(int nargs, int last, Stack *result);    // ICGET_FIELD_TAB_SEQ
void cget_field_enabled(int nargs, int last, Stack *result);    // ICGET_FIELD_ENABLED
void cget_field_type(int nargs, int last, Stack *result);       // ICGET_FIELD_TYPE
void cget_field_valid(int nargs, int last, Stack *result);      // ICGET_FIELD_VALID
void cget_field_prompt_ptr(int nargs, int last, Stack *result); // ICGET_FIELD_PROMPT_PTR
void cget_field_entry_ptr(int nargs, int last, Stack *result);  // ICGET_FIELD_ENTRY_PTR
void cget_field_des_ptr(int nargs, int last, Stack *result);    // ICGET_FIELD_DES_PTR
void cget_field_name(int nargs, int last, Stack *result);       // ICGET_FIELD_NAME$
void cset_field_prompt_no(int nargs, int last);                 // ICSET_FIELD_PROMPT_NO
void cset_field_type(int nargs, int last);                      // ICSET_FIELD_TYPE
void cset_field_valid(int nargs, int last);                     // ICSET_FIELD_VALID
void cset_field_enabled(int nargs, int last);                   // ICSET_FIELD_ENABLED
void cset_field_tab_seq(int nargs, int last);                   // ICSET_FIELD_TAB_SEQ
void cset_field_prompt_ptr(int nargs, int last);                // ICSET_FIELD_PROMPT_PTR
void cset_field_entry_ptr(int nargs, int last);                 // ICSET_FIELD_ENTRY_PTR
void cset_field_des_ptr(int nargs, int last);                   // ICSET_FIELD_DES_PTR
void cset_field_name(int nargs, int last);                      // ICSET_FIELD_NAME
void cget_last_index(int nargs, int last, Stack *result);       // ICGET_LAST_INDEX
void cget_index(int nargs, int last, Stack *result);            // ICGET_INDEX
void ccheck_index(int nargs, int last, Stack *result);          // ICCHECK_INDEX
void cremove(int nargs, int last);                              // ICREMOVE
