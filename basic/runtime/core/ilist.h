// Program lists: ordered sequences of strings, 64-bit integers or decimals, each element
// optionally named, held by programs (and by other subsystems) through a handle.
//
// The handle of a list is the address of its IList_t record, carried in a numeric program
// variable (PointerToDec / DecToPointer). Every operation that takes a handle looks it up among
// the live lists first and ends the run when it is not one; ilist_type alone answers 0 instead.
//
// Lists keep their order in a doubly linked chain of elements (head/next ... tail), which callers
// may walk. Beside it each list keeps an index, so that reaching an element by position or by
// name costs O(log n): the chain is cut into runs of consecutive elements (a few dozen at most),
// a balanced tree over the runs ordered by position counts their elements, and a table from each
// name gives the elements carrying it, in list order (a fetch by name takes the first).
//
// A list holds its elements, their names, short texts and numbers in storage of its own (cut
// from blocks, freed pieces reused): the pointers in an element stay valid until that element
// changes or goes, and are never to be freed by a caller.
#pragma once

#include <cstdint>
#include <string>

#include "disamdec.h"

struct IListStore_t;  // the storage and name table of a list (ilist.cpp)
struct IListRun_t;    // a run of consecutive elements in the position index (ilist.cpp)

// Type bits. Exactly one of the kinds is set; ILIST_HASH marks lists whose elements are reached
// by name (adds without a name and inserts are refused; sets by name fill them).
inline constexpr int ILIST_STRING = 1;
inline constexpr int ILIST_INTEGER = 2;
inline constexpr int ILIST_NUMERIC = 4;
inline constexpr int ILIST_HASH = 16;

union IListValue_t {
    char *text;            // string list: NUL-terminated
    std::int64_t integer;  // integer list
    dec_t *number;         // numeric list
};

struct IListElt_t {
    IListValue_t value;
    char *name;  // NUL-terminated, or nullptr
    IListElt_t *next;
    IListElt_t *prev;
    IListRun_t *run;  // the run holding it
};

struct IList_t {
    int count;
    int type;
    IListElt_t *head;
    IListElt_t *tail;
    IList_t *next;  // chain master_list, newest first
    IList_t *prev;
    IListRun_t *root;     // the tree of runs
    IListStore_t *store;  // made with the first element
};

// Every live list, newest first.
extern IList_t *master_list;

// Positions count from 1, except for insertion, where the position is the number of elements
// passed over (0 puts the new element first). Texts given with a maximum length are read up to
// that length or their first NUL, whichever comes first, so they need not be terminated; a name
// is a NUL-terminated text, nullptr for none.
IList_t *ilist_declare(int type);
void ilist_addselt(IList_t *list, const char *text, int maxlen, int at_front, const char *name);
void ilist_addielt(IList_t *list, std::int64_t value, int at_front);
void ilist_addnelt(IList_t *list, const dec_t *value, int at_front);
void ilist_insertselt(IList_t *list, int position, const char *text, int maxlen);
void ilist_insertielt(IList_t *list, int position, std::int64_t value);
void ilist_insertnelt(IList_t *list, int position, const dec_t *value);
// By name when a name is given, else by position.
const char *ilist_sfetch(IList_t *list, int position, const char *name);
std::int64_t ilist_ifetch(IList_t *list, int position, const char *name);
const dec_t *ilist_nfetch(IList_t *list, int position, const char *name);
const char *ilist_fetchname(IList_t *list, int position);  // nullptr when unnamed
// Position 0: the element with that name, appended with the name when there is none; else the
// element at the position (the name is not used).
void ilist_setselt(IList_t *list, int position, const char *text, int maxlen, const char *name);
void ilist_setielt(IList_t *list, int position, std::int64_t value, const char *name);
void ilist_setnelt(IList_t *list, int position, const dec_t *value, const char *name);
int ilist_setname(IList_t *list, int position, const char *name);  // the position
int ilist_getindex_after(IList_t *list, const char *name, int after);  // 0 when none
int ilist_getindex(IList_t *list, const char *name);
// First element equal to text in its first length characters (0: the whole text); -1 when none.
int ilist_snsearch(IList_t *list, const char *text, int length);
void ilist_deleteelt(IList_t *list, int position);
int ilist_clear(IList_t *list);  // the number of elements removed
void ilist_destroy(IList_t *list);
void ilist_destroyall();
int ilist_length(IList_t *list);
int ilist_type(IList_t *list);  // 0 for anything that is not a live list
IList_t *ilist_clone(IList_t *list);
void ilist_cdump(IList_t *list, int with_elements);  // to standard output
void ilist_cdumpall(int with_elements);
[[noreturn]] void ilist_sort(IList_t *list, int order);

// The ILIST_* intrinsics. The dispatcher turns the list argument into the handle and hands each
// other argument over as it found it on the value stack; the functions below pick the operation
// by the arguments' kinds and make the intrinsics' own fatal reports. Results are what the
// intrinsic gives the program (those that give none return nothing; the program sees 0).
struct IListArg {
    enum Kind { Number, Text, Other };
    Kind kind;
    const dec_t *number;  // Number
    const char *text;     // Text: length bytes, not necessarily terminated
    int length;
};

IList_t *intr_ilist_declare(const char *type_name, int length);  // registered with the application
void intr_ilist_destroy(IList_t *list);                          // nullptr: nothing
void intr_ilist_add(IList_t *list, const IListArg &value);
void intr_ilist_insert(IList_t *list, int position, const IListArg &value);
void intr_ilist_delete(IList_t *list, int position);
int intr_ilist_clear(IList_t *list);
int intr_ilist_length(IList_t *list);
std::int64_t intr_ilist_ifetch(IList_t *list, const IListArg &key);
void intr_ilist_nfetch(IList_t *list, const IListArg &key, dec_t *result);
std::string intr_ilist_sfetch(IList_t *list, const IListArg &key);
std::string intr_ilist_fetchname(IList_t *list, int position);  // " " when unnamed
std::string intr_ilist_type(IList_t *list);                     // " " when not a list
void intr_ilist_set(IList_t *list, const IListArg &key, const IListArg &value);
int intr_ilist_setname(IList_t *list, int position, const char *name, int length);
int intr_ilist_getindex(IList_t *list, const char *name, int length);
int intr_ilist_getindex_after(IList_t *list, const char *name, int length, long after);
int intr_ilist_ssearch(IList_t *list, const char *text, int length, long compare_length);
void intr_ilist_cdump(IList_t *list);
void intr_ilist_cdumpall(int with_elements);
[[noreturn]] void intr_ilist_sort(IList_t *list, int order);
// Extended texts. reference is the program's text field (8 bytes, most significant first): zero
// or eight blanks hold no text (taken as an empty text), a reference the pointer accounting does
// not record for that field is refused.
void intr_ilist_extext(IList_t *list, const void *reference);
void intr_ilist_settext(IList_t *list, const IListArg &key, const void *reference);
// Gives the field a new closed copy of the element's text, registered with the pointer
// accounting; the field's old text is released.
void intr_ilist_totext(IList_t *list, const IListArg &key, void *reference);
