// The widgets' registration: their intrinsics with the dispatchers, and with the core the message
// box and question of reports and notices and the window-geometry options of start-up. Linked
// whole into every program that links the library (see the CMake file).
#include <utility>

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
    for (auto [code, handler] : {
             std::pair<int, NumericIntrinsic>{in_IGBUTTON_NEW, igbutton_new},
             {in_IGBUTTON_NEW_EMPTY, igbutton_new_empty},
             {in_IGCHECKBOX_GET, igcheckbox_get},
             {in_IGCHECKBOX_NEW, igcheckbox_new},
             {in_IGCOMBO_NEW, igcombo_new},
             {in_IGCOMBO_VALIDATE_SET, igcombo_validate_set},
             {in_IGDATE_NEW, igdate_new},
             {in_IGDIALOG, igdialog},
             {in_IGEBOX_NEW, igebox_new},
             {in_IGHBOX_NEW, ighbox_new},
             {in_IGHBOX_NEW_OTHER, ighbox_new_other},
             {in_IGHSEPARATOR_NEW, ighseparator_new},
             {in_IGIMAGE_NEW, igimage_new},
             {in_IGINPUT_NEW, iginput_new},
             {in_IGLABEL_NEW, iglabel_new},
             {in_IGLABEL_SIMPLE_NEW, iglabel_simple_new},
             {in_IGMENU_SETUP, igmenu_setup},
             {in_IGPROGRESS_IS_CANCELLED, igprogress_is_cancelled},
             {in_IGRADIO_NEW, igradio_new},
             {in_IGSCROLLABLE_NEW, igscrollable_new},
             {in_IGSIZE_GROUP_NEW, igsize_group_new},
             {in_IGSOFTKEY_BOX, gsoftkey_box_i},
             {in_IGTABLE_ADD_ROW, igtable_add_row},
             {in_IGTABLE_DELETE_ROW, igtable_delete_row},
             {in_IGTABLE_NEW, igtable_new},
             {in_IGTABLE_UNATTACHED, igtable_unattached},
             {in_IGTEXT_NEW, igtext_new},
             {in_IGTOGGLE_NEW, igtoggle_new},
             {in_IGVBOX_NEW, igvbox_new},
             {in_IGVSEPARATOR_NEW, igvseparator_new},
             {in_IGWGET_PARENT, igwget_parent},
             {in_IGWIN_NEW, igwin_new},
             {in_IGZOOM_SETUP, gzoom_setup},
         })
        register_numeric_intrinsic(code, handler);
    register_string_intrinsic(in_IGCOMBO_GET, igcombo_get);
    register_string_intrinsic(in_IGEOMETRY_GET_OAE, igeometry_get_oae);
    register_string_intrinsic(in_IGEOMETRY_GET_STD, igeometry_get_std);
    register_string_intrinsic(in_IGMENU_KEY, igmenu_key);
    for (auto [code, handler] : {
             std::pair<int, StatementIntrinsic>{in_IGBUTTON_ADD_LABEL, igbutton_add_label},
             {in_IGCHECKBOX_SET, igcheckbox_set},
             {in_IGCOMBO_SET, igcombo_set},
             {in_IGCOMBO_TEXT_ADD, igcombo_text_add},
             {in_IGDELETE_WIDGET, igdelete_widget},
             {in_IGEBOX_ADD_LABEL, igebox_add_label},
             {in_IGEOMETRY_PUT_OAE, igeometry_put_oae},
             {in_IGEOMETRY_PUT_STD, igeometry_put_std},
             {in_IGHBOX_PACK, ighbox_pack},
             {in_IGFILECHOOSER_NEW, igfilechooser_new},
             {in_IGHIDE, ighide},
             {in_IGIMAGECHOOSER_COPY, igimagechooser_copy},
             {in_IGIMAGECHOOSER_NEW, igimagechooser_new},
             {in_IGIMAGECHOOSER_ROTATE, igimagechooser_rotate},
             {in_IGIMAGE_PRINT, igimage_print},
             {in_IGLABEL_SETUP, iglabel_setup},
             {in_IGMENU_GET, igmenu_get},
             {in_IGMENU_REFRESH, igmenu_refresh},
             {in_IGMENU_RESET, igmenu_reset},
             {in_IGMENU_SET_BUTTONS, igmenu_set_buttons},
             {in_IGMENU_SET_SHORTCUT, igmenu_set_shortcut},
             {in_IGMESSAGE, igmessage},
             {in_IGPRINT, igprint},
             {in_IGPRINT_NOT_ESCAPED, igprint_not_escaped},
             {in_IGPRINT_TITLE, igprint_title},
             {in_IGPROGRESS_CREATE, igprogress_create},
             {in_IGPROGRESS_DESTROY, igprogress_destroy},
             {in_IGPROGRESS_UPDATE, igprogress_update},
             {in_IGSHOW, igshow},
             {in_IGSIZE_GROUP_ADD, igsize_group_add},
             {in_IGSIZE_GROUP_FINALISE, igsize_group_finalise},
             {in_IGTABLE_ATTACH, igtable_attach},
             {in_IGTABLE_GET_CELL, igtable_get_cell},
             {in_IGTOOLTIP_SET, igtooltip_set},
             {in_IGWHIDE, igwhide},
             {in_IGWIDGET_SET_NAME, igwidget_set_name},
             {in_IGWINDOW_MOVE, igwindow_move},
             {in_IGWSHOW, igwshow},
             {in_IGWSIMPLESHOW, igwsimpleshow},
             {in_IGZOOM_RESET, gzoom_reset},
             {in_ISHOW_URI, ishow_uri},
         })
        register_statement_intrinsic(code, handler);
    return true;
}();

} // namespace
