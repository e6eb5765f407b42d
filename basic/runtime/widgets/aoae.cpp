// Launch values of the application area: the normal window, its maximum extent (the area's size),
// the area's offset and the connection kind, chosen by the letters of app_option or overridden
// by geometry.
#include "aoae.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <gtk/gtk.h>

#include "gdata.h"
#include "message.h"
#include "run_time.h"

namespace {

constexpr const char *OAA_HELP =
    "Oska Application Options\n\nFirst character 'w' represents Normal Window Size\n\tSupported argument for Normal "
    "Window\n\ta = 1010x700\n\nSecond character 'x' represents Max Window Size\n\tSupported arguments for Max "
    "Window Size\n\ta = 1010x700\n\tb = 1200x740\n\tc = 1380x840\n\td = 1600x950\n\nThird character 'y' "
    "represents Window Offset\n\tSupported arguments for Window Offset\n\ta = 0x0\n\tb = 0x10\n\tc = 0x50\n\td = "
    "10x20\n\te = 20x50\n\tf = 820x30\n\tg = 1045x30\n\th = 1300x30\n\ti = 1460x30\n\tj = 1700x30\n\tk = "
    "1940x30\n\nFourth Character 'z' represents Internet connection\n\tSupported arguments for Internet \n\ta = "
    "modem\n\tb = adsl\n\tc = adsl+";

const char *const OAE_Standard_set[] = {"1010x700"};
const char *const OAE_Extent_set[] = {"1010x630", "1200x670", "1380x770", "1600x880"};
const char *const OAE_Offset_set[] = {"0x0",     "0x10",    "0x50",    "10x20",   "20x50",  "820x30",
                                      "1045x30", "1300x30", "1460x30", "1700x30", "1940x30"};
const char *const OAE_Internet_set[] = {"modem", "adsl", "adsl+"};

template <std::size_t N> const char *choose(const char *const (&table)[N], char letter, const char *message)
{
    if (letter < 'a' || static_cast<std::size_t>(letter - 'a') >= N) Abort("%s", message);
    return table[letter - 'a'];
}

} // namespace

const char *OAE_Standard = OAE_Standard_set[0];
const char *OAE_Extent = OAE_Extent_set[0];
const char *OAE_Offset = OAE_Offset_set[0];
const char *OAE_Internet = OAE_Internet_set[0];

char *aoae_get_oaa_help()
{
    return g_strdup(OAA_HELP);
}

void aoae_set_oae_geometry_abcd()
{
    OAE_Standard = OAE_Standard_set[0];
    OAE_Extent = OAE_Extent_set[0];
    OAE_Offset = OAE_Offset_set[0];
    OAE_Internet = OAE_Internet_set[0];
    if (OAE_Option) {
        const std::size_t n = std::strlen(OAE_Option);
        if (n > 4) Abort("Invalid argument");
        if (n > 0) OAE_Standard = OAE_Standard_set[0];  // any letter: there is one normal window
        if (n > 1) OAE_Extent = choose(OAE_Extent_set, OAE_Option[1], "Invalid Max window argument");
        if (n > 2) OAE_Offset = choose(OAE_Offset_set, OAE_Option[2], "Invalid offset argument");
        if (n > 3) OAE_Internet = choose(OAE_Internet_set, OAE_Option[3], "Invalid internet argument");
    }
    static char canonical[10];
    if (OAE_Geometry) {
        int w = 0, h = 0;
        std::sscanf(OAE_Geometry, "%dx%d", &w, &h);
        std::snprintf(canonical, sizeof canonical, "%04dx%04d", w, h);
        if (global_data && global_data->log_level_lumbas > 0) mlog(0, "CanonicalGeometry: %s", canonical);
        OAE_Extent = canonical;
    }
    // Width in the first four characters, height from the sixth on.
    char width[5] = {};
    std::memcpy(width, OAE_Extent, std::min<std::size_t>(4, std::strlen(OAE_Extent)));
    const char *height = std::strlen(OAE_Extent) > 5 ? OAE_Extent + 5 : "";
    if (global_data) {
        global_data->oae_app_width = std::atoi(width);
        global_data->oae_app_height = std::atoi(height);
    }
    setenv("OAE_APP_WIDTH", width, 1);
    setenv("OAE_APP_HEIGHT", height, 1);

    GdkRectangle geometry{};
    if (GdkDisplay *display = gdk_display_get_default()) {
        GListModel *monitors = gdk_display_get_monitors(display);
        if (auto *monitor = static_cast<GdkMonitor *>(g_list_model_get_item(monitors, 0))) {
            gdk_monitor_get_geometry(monitor, &geometry);
            g_object_unref(monitor);
        }
    }
    const char *x = std::strpbrk(OAE_Offset, "xX");
    if (!x) Abort("Invalid offset passed:%s", OAE_Offset);
    if (geometry.width > 15000)
        Abort("Invalid monitor geometry (%d x %d) at %d %d", geometry.width, geometry.height, geometry.x,
              geometry.y);
    if (global_data) {
        global_data->oae_app_x = std::atoi(OAE_Offset);
        global_data->oae_app_y = std::atoi(x + 1);
        global_data->monitor = nullptr;
        global_data->monitor_width = geometry.width;
        global_data->monitor_height = geometry.height;
        global_data->window_x_decoration = 5;
        global_data->window_y_decoration = 32;
    }
}
