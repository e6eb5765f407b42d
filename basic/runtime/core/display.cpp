// The X server going away while the run shows its windows.
#include <gtk/gtk.h>
#include <unistd.h>
#include <X11/Xlib.h>

#include "run_time.h"
#include "startup.h"

namespace {

// Both ways GTK learns that the X server went away end the run through finish: the display's
// "closed" signal, and Xlib's handler of a broken connection, which replaces GDK's own (that one
// ends the process at once, leaving no word in the log and the COMMON object behind).
void display_closed(GdkDisplay *, gboolean, gpointer) noexcept
{
    try {
        display_lost();
    } catch (...) {
        _exit(1);
    }
}

int x_connection_lost(Display *) noexcept
{
    try {
        display_lost();
    } catch (...) {
        _exit(1);
    }
}

} // namespace

void watch_display()
{
    g_signal_connect(gdk_display_get_default(), "closed", G_CALLBACK(display_closed), nullptr);
    XSetIOErrorHandler(x_connection_lost);
    watch_x_errors();
}
