// Whole-record operations on structure variables: clear, copy, compare, dump and the copy of a
// string into a text element; and the text fields they share with the program lists.
//
// A structure argument is a value-stack entry of kind bstruct: its value is the record's address
// and its first parameter word the routine record that declares the variable. The record is
// walked by its table schema column by column, descending into columns of type struct.
#pragma once

#include <cstdio>

#include "code.h"

struct OskaTable_t;
struct Stack;
struct Symbol;

// ---- Text fields -----------------------------------------------------------------------------
// A text or bytea field holds an 8-byte big-endian reference to a closed text owned by the
// application's pointer accounting (add_pointer_mem_usage). Zero and eight blanks both mean no
// text. A reference that the accounting does not record for that field is never followed: the
// run ends with "<what>: unknown text reference 0x... at 0x...".

// The field's text, or nullptr when it holds none.
const char *text_field_text(const void *field, const char *what);
// Releases the field's text when it holds one, registers the field with no block and zeroes it.
// A field holding no text (zero or eight blanks) is left as it is.
void text_field_release(void *field, const char *what);
// Gives the field block (a closed text from the allocator, or nullptr for no text): the old text
// is released, block is registered for the field and its address stored (nullptr: all zero).
// Callers read the old text first (text_field_text), so that a refusal comes before they
// allocate and block may be a copy of that old text.
void text_field_set(void *field, char *block, const char *what);

// ---- Structure arguments -----------------------------------------------------------------------
// Whether r is the address of an entry of a loaded routine table: the only routine references a
// structure entry may carry, and so the only ones a symbol search may follow.
bool known_routine_record(Address r);

// A structure variable given to an intrinsic: its record, its symbol and its table's schema.
struct StructureArg {
    char *record;
    Symbol *symbol;
    OskaTable_t *table;
};
// The structure variable a value-stack entry refers to. Ends the run with "No symtab found for
// struct at 0x%X" when no structure variable lies there, and "Cannot find table for struct %s at
// 0x%X" when it has no schema. known is a symbol the caller found for this routine and address
// before (nullptr: none): it is taken without a search while it still lies at the record, since
// a routine call may have bound the name elsewhere since.
StructureArg structure_argument(const Stack &entry, Symbol *known = nullptr);

// ---- Structure operations --------------------------------------------------------------------

// Clears the structure of the entry at stack index last (op sclear).
void sclear(int last);
// COPYSTRUCT (destination, source): 1 copied, 0 the schemas differ.
int copy_struct(int nargs, int last);
// ISTRUCTEQ (first, second): 1 equal, 0 different.
int is_struct_equal(int nargs, int last);
// ISTRUCT_DUMP (structure [, file name]): to standard output, or to TEMP_DIR/<name>.txt.
void istruct_dump(int nargs, int last);
// COPYTOTEXT (text or bytea element, string): 1 done, 0 refused.
int copy_into_text(int nargs, int last);

// Workers, by schema.
void sql_clear_struct(OskaTable_t *table, char *record);
void do_copy_struct(char *destination, const char *source, OskaTable_t *table);
int do_compare_struct(const char *first, const char *second, OskaTable_t *table);
void do_dump_struct(const char *record, OskaTable_t *table, std::FILE *out);
