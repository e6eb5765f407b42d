// The forms engine's registration: its intrinsics with the dispatchers, the closing road with the
// routine runs below it, its part of external programs with the intrinsics library, and with the
// core the freeing of every control matrix at the run's end and of the records kept while
// routines ran, once an application has gone. Linked whole into every program that links the
// library (see the CMake file).
#include "cattach.h"
#include "cclear.h"
#include "ccontent.h"
#include "cexternal.h"
#include "cfield.h"
#include "cfocus.h"
#include "cinvoke.h"
#include "ckeys.h"
#include "cloop.h"
#include "cmatrix.h"
#include "cnext.h"
#include "ctable_bgcolour.h"
#include "hooks.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"

namespace {

// After an application goes, the records its routines kept alive can go, on every CM where no
// routine runs any more, and a delayed call of one of its routines can no longer run.
void release_kept_records()
{
    if (!global_data) return;
    ccall_fun_forget_gone();
    for (ControlMatrix_t *cm = global_data->first_cm; cm; cm = cm->next)
        if (!cm_routine_running(cm)) cmat_free_scmfree(cm);
}

// The forms engine's intrinsics. Each handler checks its argument count with its own message.
constexpr IntrinsicRow forms_rows[] = {
    {in_ICADD, cadd},
    {in_ICCHECK_INDEX, ccheck_index, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_ANYCHANGE, cget_anychange, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_CURRENT_FOCUS, cget_current_focus, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_FIELD_DES_PTR, cget_field_des_ptr, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_FIELD_ENABLED, cget_field_enabled, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_FIELD_ENTRY_PTR, cget_field_entry_ptr, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_FIELD_PROMPT_NO, cget_field_prompt_no, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_FIELD_PROMPT_PTR, cget_field_prompt_ptr, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_FIELD_TAB_SEQ, cget_field_tab_seq, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_FIELD_TYPE, cget_field_type, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_FIELD_VALID, cget_field_valid, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_INDEX, cget_index, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_LAST_INDEX, cget_last_index, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_MODIFIED, cget_modified, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_PROGRAM_MODE, cget_program_mode, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_RETURN_FOCUS, cget_return_focus, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_FIELD_NAME, cget_field_name, ANY_COUNT, WINDOWS_ONLY},
    {in_ICGET_EVENT_NAME, cget_event_name},
    {in_ICATTACH_FUN, cattach_fun},
    {in_ICATTACH_WINDOW, cattach_window},
    {in_ICCALL_FUN, ccall_fun},
    {in_ICCLEAR, cclear},
    {in_ICDELETE_WINDOW, cdelete_window},
    {in_ICDETACH_FUN, cdetach_fun},
    {in_ICHIDE_ALL, chide_all},
    {in_ICINVOKE_DRILL_POST, cinvoke_drill_post, ANY_COUNT, WINDOWS_ONLY},
    {in_ICINVOKE_FETCH, cinvoke_fetch, ANY_COUNT, WINDOWS_ONLY},
    {in_ICINVOKE_WIN_POST, cinvoke_win_post, ANY_COUNT, WINDOWS_ONLY},
    {in_ICINVOKE_ZOOM_POST, cinvoke_zoom_post, ANY_COUNT, WINDOWS_ONLY},
    {in_ICREMOVE, cremove},
    {in_ICSET_ANYCHANGE, cset_anychange, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_CONTENT, cset_content},
    {in_ICSET_FIELD_DES_PTR, cset_field_des_ptr, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_FIELD_ENABLED, cset_field_enabled, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_FIELD_ENTRY_PTR, cset_field_entry_ptr, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_FIELD_NAME, cset_field_name, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_FIELD_PROMPT_NO, cset_field_prompt_no, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_FIELD_PROMPT_PTR, cset_field_prompt_ptr, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_FIELD_TAB_SEQ, cset_field_tab_seq, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_FIELD_TYPE, cset_field_type, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_FIELD_VALID, cset_field_valid, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_FOCUS, cset_focus},
    {in_ICSET_MODIFIED, cset_modified, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSET_PROGRAM_MODE, cset_program_mode, ANY_COUNT, WINDOWS_ONLY},
    {in_ICSHOW_ALL, cshow_all},
    {in_IDISPLAY_CM, display_cm, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTK_MAIN, igtk_main, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTK_MAIN_ITERATION, static_cast<StatementIntrinsic>(igtk_main_iteration), ANY_COUNT, WINDOWS_ONLY},
};

const bool registered = [] {
    register_intrinsic_rows(forms_rows);
    register_intrinsic_rows(table_colour_intrinsics());
    register_close_road(cdeletewin);
    register_external_program_forms();
    register_table_colours();
    register_hook(CoreHook::free_control_matrices, cmat_free_all);
    register_hook(CoreHook::application_deleted, release_kept_records);
    return true;
}();

} // namespace
