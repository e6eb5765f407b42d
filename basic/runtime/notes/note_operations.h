// Note operations on note text: the INOTE_* intrinsics through which programs build and change a
// note kept in a string variable, without any window. Each reads the note string into a scratch
// note record (compact 1), changes its element list and writes the note string back into the
// same variable, normalised, even when nothing changed.
//
// Block tags (a start and an end tag of one name) mark sections of a note, so that later calls
// can add to, test for or remove a section by its name. Text given to these operations is cut
// into paragraphs at every blank line ("\n\n", dropped).
#pragma once

#include "note_model.h"

struct Stack;

// ---- The intrinsics ------------------------------------------------------------------------------
// INOTE_APPEND_BLOCK_TAG note$, name, start text, end text [, text [, amount]]
void note_append_block_tag(int nargs, int last);
// INOTE_APPEND_TEXT note$, text [, amount]
void note_append_text(int nargs, int last);
// INOTE_CHECK_BLOCK_TAG(note, name): 1 when a tag of that name is in the note; note is not written.
void note_check_block_tag(int nargs, int last, Stack *result);
// INOTE_DELETE(note$, name, tag deletion flag, text deletion flag): 1 when a tag of that name was
// found.
void note_delete(int nargs, int last, Stack *result);
// INOTE_INSERT_TEXT(note$, name, text [, at start flag [, amount]]): 1 when the block was found.
void note_insert_text(int nargs, int last, Stack *result);

// ---- The list operations behind them ---------------------------------------------------------------
// Those that decode text as paragraph content return the note reader's error for a text that does
// not read; the note is then left part-way, for the caller to drop.
//
// Unless a tag of that name is in the note: appends a start tag, the text's paragraphs (decoded
// as paragraph content; one empty paragraph for a null or empty text), with an amount (may be
// null) an amount and an empty paragraph, the end tag and an empty paragraph. The tag must pass
// gnote_check_tag (the caller checks it first, so a refused tag changes nothing).
[[nodiscard]] ReadError note_block_tag_append_tags(NoteData_t *note, const char *name, const char *start_text,
                                                   const char *end_text, const char *text, const dec_t *amount);
// Appends text literally (mark-up characters stay plain), into the last paragraph when it is an
// empty one; with an amount (may be null) an amount and an empty paragraph after it.
[[nodiscard]] ReadError note_text_append_text(NoteData_t *note, const char *text, const dec_t *amount);
// 1 when a start or end tag of the note has that name, else 0.
int note_check_block_tag_exists(const NoteData_t *note, const char *name);
// Inserts text (decoded as paragraph content) at the beginning (at_start 1) or end (0) of the
// first block of that name, with an amount (may be null) and an empty paragraph after it.
// *found is 1 when the block was found, else 0 (nothing inserted).
[[nodiscard]] ReadError note_insert_text_in_tags(NoteData_t *note, const char *name, const char *text, int at_start,
                                                 const dec_t *amount, int *found);
// Removes, in every block of that name, its two tags (delete_tags 1) and the paragraphs and
// amounts inside (delete_text 1). Returns 1 when a tag of that name was seen; 0 without looking
// when both flags are 0.
int note_delete_tag_text(NoteData_t *note, const char *name, int delete_tags, int delete_text);
