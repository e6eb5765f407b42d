// The notes' registration: the note field's kind with the forms engine (the field registers its
// edit window's kind with it), and its intrinsics, the edit window's amount and block-tag
// intrinsics and the note operations on note text with the dispatchers, and the run-time's signal
// safe point with the note reader. Linked whole into every program that links the library (see the
// CMake file).
#include "gnote_edit.h"
#include "gnote_field.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "note_model.h"
#include "note_operations.h"
#include "signals.h"

namespace {

// Each handler checks its argument count with its own message. Appending to a note is refused in
// background mode, as it always was; checking, inserting and deleting serve batch programs.
constexpr IntrinsicRow note_rows[] = {
    {in_INOTE_APPEND_BLOCK_TAG, note_append_block_tag, ANY_COUNT, WINDOWS_ONLY},
    {in_INOTE_APPEND_TEXT, note_append_text, ANY_COUNT, WINDOWS_ONLY},
    {in_INOTE_CHECK_BLOCK_TAG, note_check_block_tag},
    {in_INOTE_DELETE, note_delete},
    {in_INOTE_INSERT_TEXT, note_insert_text},
};

const bool registered = [] {
    gnote_parse_safe_point = [] { check_signals(); };
    gnote_register_kind();
    register_intrinsic_rows(gnote_field_intrinsics());
    register_intrinsic_rows(gnote_amount_intrinsics());
    register_intrinsic_rows(gnote_edit_tag_intrinsics());
    register_intrinsic_rows(note_rows);
    return true;
}();

} // namespace
