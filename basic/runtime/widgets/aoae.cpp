// The application area. At launch: the normal window, its maximum extent (the area's size), the
// area's offset and the connection kind, chosen by the letters of app_option or overridden by
// geometry. Afterwards: the monitor each window shows on, and the geometry intrinsics.
#include "aoae.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cases.h"
#include "ccallback.h"
#include "cmatrix.h"
#include "gdata.h"
#include "message.h"
#include "misc.h"
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

// A number 1..9999 that takes all of [first, last).
bool geometry_number(const char *first, const char *last, int *value)
{
    auto [end, error] = std::from_chars(first, last, *value);
    return error == std::errc() && end == last && first != last && *first != '-' && *value >= 1 && *value <= 9999;
}

// The width and height of a geometry "WWWxHHH"; anything else ends the run rather than give an
// area of no size.
void parse_geometry(const char *text, int *width, int *height)
{
    const char *end = text + std::strlen(text);
    const char *x = std::strchr(text, 'x');
    if (!x || !geometry_number(text, x, width) || !geometry_number(x + 1, end, height))
        Abort("Invalid geometry %s", text);
}

// The geometry of a monitor, and the first monitor of the default display.
GdkRectangle geometry_of(GdkMonitor *monitor)
{
    GdkRectangle r{};
    if (monitor) gdk_monitor_get_geometry(monitor, &r);
    return r;
}

GdkMonitor *first_monitor()
{
    GdkDisplay *display = gdk_display_get_default();
    if (!display) return nullptr;
    GListModel *monitors = gdk_display_get_monitors(display);
    auto *monitor = static_cast<GdkMonitor *>(g_list_model_get_item(monitors, 0));
    if (monitor) g_object_unref(monitor);  // the display's list keeps it
    return monitor;
}

// The monitor that shows a window, or nullptr while it has no surface.
GdkMonitor *monitor_of(GtkWidget *window)
{
    GtkNative *native = window ? gtk_widget_get_native(window) : nullptr;
    GdkSurface *surface = native ? gtk_native_get_surface(native) : nullptr;
    return surface ? gdk_display_get_monitor_at_surface(gtk_widget_get_display(window), surface) : nullptr;
}

// A program's text without its trailing white space.
std::string trimmed(std::string_view text)
{
    std::string t(text);
    umisc_trim(t.data());
    t.resize(std::strlen(t.c_str()));
    return t;
}

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
        parse_geometry(OAE_Geometry, &w, &h);
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

    const GdkRectangle geometry = geometry_of(first_monitor());
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

void aoae_configure_event(GtkWidget *window, GParamSpec *, gpointer data)
{
    forms_callback([&] {
        auto *gd = static_cast<GlobalData_t *>(data);
        GdkMonitor *monitor = monitor_of(window);
        if (!monitor) return;
        ControlMatrix_t *cm = cget_cm_for_window(gd, window, 0);
        if (!cm && gd->first_cm) return;  // a window of no form while forms are open
        const GdkRectangle r = geometry_of(monitor);
        if (gd->log_level_lumbas > 2)
            mlog(3, "Do aoae_configure_event; monitor=%p; window=%lX; x=%d; y=%d; width=%d; height=%d",
                 static_cast<void *>(monitor), static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(window)),
                 r.x, r.y, r.width, r.height);
        if (cm) {
            if (cm->monitor == monitor) return;
            cm->monitor = monitor;
            cm->oae_app_x = r.x;
            cm->oae_app_y = r.y;
            cm->monitor_width = r.width;
            cm->monitor_height = r.height;
        } else {
            gd->monitor = monitor;
            gd->oae_app_x = r.x;
            gd->oae_app_y = r.y;
            gd->monitor_width = r.width;
            gd->monitor_height = r.height;
        }
        if (gd->log_level_lumbas > 2) {
            const std::string rule(45, '#');
            mlog(3, "%s", rule.c_str());
            mlog(3, "###  aoae_configure_event x=%4d; y=%4d  ###", r.x, r.y);
            mlog(3, "%s", rule.c_str());
        }
    });
}

// ---- Intrinsics ------------------------------------------------------------------------------------

void igeometry_get_std(int nargs, int, Stack *result)
{
    if (nargs != 0) Abort("Must have zero parameters; not %d", nargs);
    intr::set_text(result, "1024x768");
}

void igeometry_get_oae(int nargs, int, Stack *result)
{
    if (nargs != 0) Abort("Must have zero parameters; not %d", nargs);
    char text[19];
    const int n = std::snprintf(text, sizeof text, "%dx%d", global_data->oae_app_width, global_data->oae_app_height);
    if (n < 0 || n >= static_cast<int>(sizeof text)) Abort("Buffer overflow");
    intr::set_text(result, text);
}

void igeometry_put_std(int nargs, int last)
{
    if (nargs != 1) Abort("Must have one parameter; not %d", nargs);
    const std::string size = trimmed(intr::text(intr::arg(nargs, last, 0)));
    if (size != "1024x768") Abort("Standard Window Size must be 1024x768; not %s", size.c_str());
}

void igeometry_put_oae(int nargs, int last)
{
    if (nargs != 1) Abort("Must have one parameter; not %d", nargs);
    const std::string size = trimmed(intr::text(intr::arg(nargs, last, 0)));
    if (size != "1024x768" && size != "1280x800" && size != "1680x1050")
        Abort("The Oska Applicaiton Extent (OAE) must be one of 1024x768, 1280x800, or 1680x1050; not %s",
              size.c_str());
    int width = std::atoi(size.substr(0, 4).c_str());
    int height = std::atoi(size.substr(5).c_str());
    GlobalData_t *gd = global_data;
    ControlMatrix_t *cm = gd->last_cm;
    GdkMonitor *monitor = nullptr;
    GdkRectangle r{};
    if (!Back_ground) {
        // A CM's window that has no surface yet is on no monitor: the display's first one counts.
        monitor = cm ? monitor_of(cm_real_window(cm) ? GTK_WIDGET(cm_real_window(cm)) : nullptr) : nullptr;
        if (!monitor) monitor = first_monitor();
        r = geometry_of(monitor);
        if (width >= 1680 && (r.width < 1680 || r.height < 1050)) width = 1280, height = 800;
        if (width >= 1280 && (r.width < 1280 || r.height < 800)) width = 1024, height = 768;
    }
    auto apply = [&](auto &to, GdkMonitor *kept) {
        to.oae_app_width = width;
        to.oae_app_height = height;
        to.oae_app_x = to.oae_app_y = 1;
        if (Back_ground) return;  // no monitor to take the numbers from
        to.monitor = kept;
        to.monitor_width = r.width;
        to.monitor_height = r.height;
    };
    if (cm)
        apply(*cm, monitor);
    else
        apply(*gd, nullptr);
}
