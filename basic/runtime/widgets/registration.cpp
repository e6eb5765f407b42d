// The widgets' registration: their intrinsics with the dispatchers, and with the core the message
// box and question of reports and notices and the window-geometry options of start-up. Linked
// whole into every program that links the library (see the CMake file).
#include "aoae.h"
#include "gbutton.h"
#include "gcheckbox.h"
#include "gchooser.h"
#include "gcombo.h"
#include "gcontainers.h"
#include "gdate.h"
#include "gimage.h"
#include "ginput.h"
#include "glabel.h"
#include "gmenu.h"
#include "gmessage.h"
#include "gmisc_intrinsics.h"
#include "gprint.h"
#include "gprogress.h"
#include "gradio.h"
#include "gsoftkeys.h"
#include "gtext.h"
#include "gwindow.h"
#include "gzoom.h"
#include "hooks.h"
#include "intrinsic_dispatch.h"
#include "intrinsics.h"
#include "kinds.h"

namespace {

// The widgets' intrinsics. Each handler checks its argument count with its own message.
constexpr IntrinsicRow widget_rows[] = {
    {in_IGBUTTON_NEW, igbutton_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGBUTTON_NEW_EMPTY, igbutton_new_empty, ANY_COUNT, WINDOWS_ONLY},
    {in_IGCHECKBOX_GET, igcheckbox_get, ANY_COUNT, WINDOWS_ONLY},
    {in_IGCHECKBOX_NEW, igcheckbox_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGCOMBO_NEW, igcombo_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGCOMBO_VALIDATE_SET, igcombo_validate_set, ANY_COUNT, WINDOWS_ONLY},
    {in_IGDATE_NEW, igdate_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGDIALOG, igdialog},
    {in_IGEBOX_NEW, igebox_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGHBOX_NEW, ighbox_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGHBOX_NEW_OTHER, ighbox_new_other, ANY_COUNT, WINDOWS_ONLY},
    {in_IGHSEPARATOR_NEW, ighseparator_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGIMAGE_NEW, igimage_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGINPUT_NEW, iginput_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGLABEL_NEW, iglabel_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGLABEL_SIMPLE_NEW, iglabel_simple_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGMENU_SETUP, igmenu_setup, ANY_COUNT, WINDOWS_ONLY},
    {in_IGPROGRESS_IS_CANCELLED, igprogress_is_cancelled},
    {in_IGRADIO_NEW, igradio_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGSCROLLABLE_NEW, igscrollable_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGSIZE_GROUP_NEW, igsize_group_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGSOFTKEY_BOX, gsoftkey_box_i, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTABLE_ADD_ROW, igtable_add_row, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTABLE_DELETE_ROW, igtable_delete_row, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTABLE_NEW, igtable_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTABLE_UNATTACHED, igtable_unattached, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTEXT_NEW, igtext_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTOGGLE_NEW, igtoggle_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGVBOX_NEW, igvbox_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGVSEPARATOR_NEW, igvseparator_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGWGET_PARENT, igwget_parent, ANY_COUNT, WINDOWS_ONLY},
    {in_IGWIN_NEW, igwin_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGZOOM_SETUP, gzoom_setup, ANY_COUNT, WINDOWS_ONLY},
    {in_IGCOMBO_GET, igcombo_get, ANY_COUNT, WINDOWS_ONLY},
    {in_IGEOMETRY_GET_OAE, igeometry_get_oae},
    {in_IGEOMETRY_GET_STD, igeometry_get_std},
    {in_IGMENU_KEY, igmenu_key, ANY_COUNT, WINDOWS_ONLY},
    {in_IGBUTTON_ADD_LABEL, igbutton_add_label, ANY_COUNT, WINDOWS_ONLY},
    {in_IGCHECKBOX_SET, igcheckbox_set, ANY_COUNT, WINDOWS_ONLY},
    {in_IGCOMBO_SET, igcombo_set, ANY_COUNT, WINDOWS_ONLY},
    {in_IGCOMBO_TEXT_ADD, igcombo_text_add, ANY_COUNT, WINDOWS_ONLY},
    {in_IGDELETE_WIDGET, igdelete_widget, ANY_COUNT, WINDOWS_ONLY},
    {in_IGEBOX_ADD_LABEL, igebox_add_label, ANY_COUNT, WINDOWS_ONLY},
    {in_IGEOMETRY_PUT_OAE, igeometry_put_oae},
    {in_IGEOMETRY_PUT_STD, igeometry_put_std},
    {in_IGHBOX_PACK, ighbox_pack, ANY_COUNT, WINDOWS_ONLY},
    {in_IGFILECHOOSER_NEW, igfilechooser_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGHIDE, ighide, ANY_COUNT, WINDOWS_ONLY},
    {in_IGIMAGECHOOSER_COPY, igimagechooser_copy},
    {in_IGIMAGECHOOSER_NEW, igimagechooser_new, ANY_COUNT, WINDOWS_ONLY},
    {in_IGIMAGECHOOSER_ROTATE, igimagechooser_rotate},
    {in_IGIMAGE_PRINT, igimage_print, ANY_COUNT, WINDOWS_ONLY},
    {in_IGLABEL_SETUP, iglabel_setup, ANY_COUNT, WINDOWS_ONLY},
    {in_IGMENU_GET, igmenu_get, ANY_COUNT, WINDOWS_ONLY},
    {in_IGMENU_REFRESH, igmenu_refresh, ANY_COUNT, WINDOWS_ONLY},
    {in_IGMENU_RESET, igmenu_reset, ANY_COUNT, WINDOWS_ONLY},
    {in_IGMENU_SET_BUTTONS, igmenu_set_buttons, ANY_COUNT, WINDOWS_ONLY},
    {in_IGMENU_SET_SHORTCUT, igmenu_set_shortcut, ANY_COUNT, WINDOWS_ONLY},
    {in_IGMESSAGE, igmessage},
    {in_IGPRINT, igprint, ANY_COUNT, WINDOWS_ONLY},
    {in_IGPRINT_NOT_ESCAPED, igprint_not_escaped, ANY_COUNT, WINDOWS_ONLY},
    {in_IGPRINT_TITLE, igprint_title},
    {in_IGPROGRESS_CREATE, igprogress_create, ANY_COUNT, WINDOWS_ONLY},
    {in_IGPROGRESS_DESTROY, igprogress_destroy, ANY_COUNT, WINDOWS_ONLY},
    {in_IGPROGRESS_UPDATE, igprogress_update, ANY_COUNT, WINDOWS_ONLY},
    {in_IGSHOW, igshow, ANY_COUNT, WINDOWS_ONLY},
    {in_IGSIZE_GROUP_ADD, igsize_group_add, ANY_COUNT, WINDOWS_ONLY},
    {in_IGSIZE_GROUP_FINALISE, igsize_group_finalise, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTABLE_ATTACH, igtable_attach, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTABLE_GET_CELL, igtable_get_cell, ANY_COUNT, WINDOWS_ONLY},
    {in_IGTOOLTIP_SET, igtooltip_set, ANY_COUNT, WINDOWS_ONLY},
    {in_IGWHIDE, igwhide, ANY_COUNT, WINDOWS_ONLY},
    {in_IGWIDGET_SET_NAME, igwidget_set_name, ANY_COUNT, WINDOWS_ONLY},
    {in_IGWINDOW_MOVE, igwindow_move},
    {in_IGWSHOW, igwshow, ANY_COUNT, WINDOWS_ONLY},
    {in_IGWSIMPLESHOW, igwsimpleshow, ANY_COUNT, WINDOWS_ONLY},
    {in_IGZOOM_RESET, gzoom_reset, ANY_COUNT, WINDOWS_ONLY},
    {in_ISHOW_URI, ishow_uri},
};

const bool registered = [] {
    register_window_hooks({gmessage, Mgdialog, aoae_get_oaa_help, aoae_set_oae_geometry_abcd});
    CmResourceHooks resources = cm_resources();
    resources.delete_softkeys = gsoftkey_delete_window;
    register_cm_resources(resources);
    gmenu_register_window_kind();
    ginput_register_kind();
    gdate_register_kind();
    gtext_register_kind();
    gcheckbox_register_kind();
    glabel_register_kind();
    gcombo_register_kind();
    gradio_register_kinds();
    gimage_register_kind();
    gzoom_register_kind();
    register_intrinsic_rows(widget_rows);
    return true;
}();

} // namespace
