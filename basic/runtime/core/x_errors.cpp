// What another X client does to the run's windows. A window manager or another client may destroy
// a window of the run (xdotool windowclose): GDK would then trip over its own assertion, or end
// the process at the next X error about the window without a word in the log and leaving the
// COMMON object behind. The destroyed window is taken as a close of the window instead, so the
// program's own Escape road runs, and errors about windows destroyed so are no fault of the run.
// Any other X error GDK would end the process for ends it through finish.
#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>
#include <set>
#include <unistd.h>
#include <X11/Xlib.h>

#include "run_time.h"
#include "startup.h"

namespace {

// The windows another client destroyed: GDK still thinks them alive until the program closes
// them, and every request it makes on them meanwhile fails.
std::set<XID> &gone_windows()
{
    static std::set<XID> gone;
    return gone;
}

XErrorHandler gdk_error_handler = nullptr;

gboolean close_window(gpointer data) noexcept
{
    gtk_window_close(GTK_WINDOW(data));
    return G_SOURCE_REMOVE;
}

// When the window has gone, the requests GDK made to destroy it are covered still: their errors
// come later. (Its number stays among the gone: Xlib does not give a number out twice while
// numbers are left.)
void end_trap(gpointer display, GObject *) noexcept { gdk_x11_display_error_trap_pop_ignored(GDK_DISPLAY(display)); }

// Takes the live surface xid of display as destroyed by another client: its window is closed
// from the main loop. False when GDK does not know it as alive.
bool window_gone(GdkDisplay *display, XID xid)
{
    if (gone_windows().count(xid)) return true;
    GdkSurface *surface = display ? gdk_x11_surface_lookup_for_display(display, xid) : nullptr;
    if (!surface || gdk_surface_is_destroyed(surface)) return false;
    gone_windows().insert(xid);
    // Until the window goes, every error is taken as one about it: GDK checks the errors that come
    // while it waits on a trap of its own with its own handler, which ends the process.
    gdk_x11_display_error_trap_push(display);
    GtkNative *native = gtk_native_get_for_surface(surface);
    if (native && GTK_IS_WINDOW(native)) {
        g_object_weak_ref(G_OBJECT(native), end_trap, display);
        g_idle_add_full(G_PRIORITY_HIGH_IDLE, close_window, g_object_ref(native), g_object_unref);
    }
    return true;
}

// The error about a destroyed window may come before the event that tells of its destruction.
int x_error(Display *xdisplay, XErrorEvent *error) noexcept
{
    const bool about_a_window = error->error_code == BadWindow || error->error_code == BadDrawable;
    if (about_a_window && window_gone(gdk_x11_lookup_xdisplay(xdisplay), error->resourceid)) return 0;
    return gdk_error_handler ? gdk_error_handler(xdisplay, error) : 0;
}

gboolean on_xevent(GdkX11Display *display, gpointer xevent, gpointer) noexcept
{
    const auto *event = static_cast<const XEvent *>(xevent);
    if (event->type != DestroyNotify) return FALSE;
    // A window GDK destroyed itself is no longer known to it. GDK's own handling of another
    // client's destroy asserts.
    return window_gone(GDK_DISPLAY(display), event->xdestroywindow.window) ? TRUE : FALSE;
}

// GDK says an X error it was not told to expect ends the run, then ends the process at once.
GLogWriterOutput log_writer(GLogLevelFlags level, const GLogField *fields, gsize count, gpointer data) noexcept
{
    const GLogWriterOutput written = g_log_writer_default(level, fields, count, data);
    const char *domain = nullptr, *message = nullptr;
    for (gsize i = 0; i < count; ++i) {
        if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0) domain = static_cast<const char *>(fields[i].value);
        if (g_strcmp0(fields[i].key, "MESSAGE") == 0) message = static_cast<const char *>(fields[i].value);
    }
    const bool fatal = (level & G_LOG_LEVEL_ERROR) != 0 ||
                       (message && g_strrstr(message, "received an X Window System error") != nullptr);
    if (fatal && g_strcmp0(domain, "Gdk") == 0) {
        try {
            display_lost();
        } catch (...) {
            _exit(1);
        }
    }
    return written;
}

} // namespace

void watch_x_errors()
{
    GdkDisplay *display = gdk_display_get_default();
    if (!GDK_IS_X11_DISPLAY(display)) return;
    g_signal_connect(display, "xevent", G_CALLBACK(on_xevent), nullptr);
    gdk_error_handler = XSetErrorHandler(x_error);
    static bool writer_set = false;
    if (!writer_set) g_log_set_writer_func(log_writer, nullptr, nullptr);
    writer_set = true;
}
