// Records attached to a CM: program routines attached to (field index, action code) pairs with
// the arguments they will get, and the field records widgets park under internal codes. Their
// building (with the parameter checks of the `stack` option), lookup, per-call copies, removal and
// freeing; the action-code names; the soft keys a field has routines for; the finders of field
// records.
//
// A CM keeps its records in attachment order and indexed by field index, so lookups and appends
// never walk the list. Records removed while a routine runs on the CM wait on scm_free_list until
// no routine runs there (cmat_free_scmfree).
#pragma once

#include <cstddef>
#include <string_view>

#include "forms.h"

struct Application_t;
struct Routine;
struct Stack;
struct Symbol;

// Builds a record for (ind, code) with copies of the count entries at args (the CM's handle first,
// then the index and the routine's further arguments) and links it at the end of the CM's list; a
// record already there for the same pair is replaced, with a warning. Field records pass no
// entries, count 0 and setup 1.
SubControlMatrix_t *cutil_cp_stack(ControlMatrix_t *cm, const Stack *args, int count, int ind, int code,
                                   Routine *routine, Application_t *application, int setup);
// Allocates a zeroed field record of size bytes, writes its kind first, hangs it on the record
// (whose setup slot must be empty) and registers it as a handle. Constructors make their records so.
void *cutil_new_setup(SubControlMatrix_t *scm, int kind, std::size_t size);
// The record for (ind, code); failing that, the one for (0, code); else nullptr.
SubControlMatrix_t *cmat_get_fn_ptr(ControlMatrix_t *cm, int ind, int code);
// The first record for exactly (ind, code), or nullptr; the next one for the same pair.
SubControlMatrix_t *cmat_get_scm(ControlMatrix_t *cm, int ind, int code);
SubControlMatrix_t *cattach_next_same(const SubControlMatrix_t *scm);
// Changes a record's index (and its field record's own index).
void cattach_set_ind(ControlMatrix_t *cm, SubControlMatrix_t *scm, int ind);
// The record's arguments, decoded into out (nparams entries); entries holding their own value
// point at it. names (may be nullptr) gets per argument the name of the variable it refers to, or
// nullptr.
void cattach_params(const SubControlMatrix_t *scm, Stack *out, const char **names);
// A new copy of count entries for one run of a routine: literal strings, and strings and numbers
// whose keep flag (a non-null name) is missing, become the copy's own; texts owned by the copy
// are listed in *strings (*nstrings of them). Free with cutil_free_stk.
Stack *cutil_cp_stk(const Stack *entries, int count, char ***strings, int *nstrings, const char *const *keep);
// The same for a record's arguments, with the names of their variables as the keep flags.
Stack *cutil_cp_scm(const SubControlMatrix_t *scm, char ***strings, int *nstrings);
void cutil_free_stk(Stack *copy, char **strings, int nstrings);
// Unlinks the record and frees it, or keeps it on scm_free_list while a routine runs on the CM.
void cremove_scm(ControlMatrix_t *cm, SubControlMatrix_t *scm);
// Frees a record (off every list) with all it owns.
void cremove_free_scm(SubControlMatrix_t *scm);
// Frees every record on scm_free_list.
void cmat_free_scmfree(ControlMatrix_t *cm);
// Frees every record of the CM (its own list, the waiting ones and the index).
void cattach_free_all(ControlMatrix_t *cm);
// Renumbering: every record at index `from` or above, but keep1 and keep2, moves by delta (with
// the field record's own index); rows first..last removed: their records go, those above move down.
void cattach_shift(ControlMatrix_t *cm, int from, int delta, const SubControlMatrix_t *keep1 = nullptr,
                   const SubControlMatrix_t *keep2 = nullptr);
void cattach_remove_rows(ControlMatrix_t *cm, int first, int last);

// ---- Action codes ----------------------------------------------------------------------------------
// Writes the name of code into buffer (at least 20 characters): the table's name or "Internal %d".
char *cgetac(char *buffer, int code);
// The action code a program's text names; anything else ends the run ("Invalid Action Code %s").
int cattach_fun_get_ac(const char *text, std::size_t length);

// ---- Soft keys a field has something attached for -----------------------------------------------------
void cutil_get_active_function_keys(ControlMatrix_t *cm, int index, int flags[CM_SOFT_KEYS]);
void cutil_set_active_function_keys(ControlMatrix_t *cm, int index);

// Stores text into the string variable entry refers to, cut to and blank-padded to its declared
// length (a pointer variable takes it whole); the entry's length follows.
void cutil_store_padded(Stack &entry, std::string_view text);

// ---- Routines by number ----------------------------------------------------------------------------------
// The routine of that number in the current application; none, or one without a name (then ap is
// printed on standard output), ends the run.
Routine *cutil_routine_by_number(int number, Application_t *ap);

// ---- Symbols ---------------------------------------------------------------------------------------------
// The variable of routine `routine` (and, with also_global, of the main routine) whose storage is
// address and whose type has every bit of kind, or nullptr.
Symbol *cutil_get_symbol(int routine, int also_global, const void *address, unsigned kind);

// ---- Field records of a field (the first record of that code at exactly that index) --------------------
// Each ends the run with its own message when the record is missing or of the wrong kind.
void *ginput_get_mintype(ControlMatrix_t *cm, int index);  // an input or note record (code 101 or 103)
void *gtext_get_mintype(ControlMatrix_t *cm, int index);   // a text record (112)
void *glabel_get_type(ControlMatrix_t *cm, int index);     // a label record (107)
void *gdate_get_yr(ControlMatrix_t *cm, int index);        // a date record (102)

// ---- Intrinsics --------------------------------------------------------------------------------------------
void cattach_fun(int nargs, int last);  // ICATTACH_FUN
void cdetach_fun(int nargs, int last);  // ICDETACH_FUN
