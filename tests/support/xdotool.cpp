#include "xdotool.h"

#include <algorithm>
#include <cstring>
#include <csignal>
#include <stdexcept>
#include <unistd.h>

#include "gui_env.h"
#include "test_time.h"

// Last: X11's macros (None, Bool, ...) would break the headers above.
#include <gdk/x11/gdkx.h>

namespace lumba_test {
namespace {

struct Child {
    bool done = false;
    int status = 0;
};

void child_ended(GPid pid, gint status, gpointer data)
{
    auto *c = static_cast<Child *>(data);
    c->status = status;
    c->done = true;
    g_spawn_close_pid(pid);
}

// xdotool types a character that no key has by lending it a spare key for the moment and taking
// the key back at once; a program that reads the keyboard map only when it handles the key (GTK
// does) may find the key taken back by then and lose the character. Such characters get a spare
// key for good before they are typed.
void map_for_good(const std::string &display, const std::string &text)
{
    Display *x = nullptr;
    for (const char *p = text.c_str(); *p; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (c < 0x80) continue;
        if (!x && !(x = XOpenDisplay(display.c_str()))) throw std::runtime_error("cannot open display " + display);
        KeySym symbol = gdk_unicode_to_keyval(c);
        if (XKeysymToKeycode(x, symbol)) continue;
        int low = 0, high = 0, per_key = 0;
        XDisplayKeycodes(x, &low, &high);
        KeySym *map = XGetKeyboardMapping(x, static_cast<KeyCode>(low), high - low + 1, &per_key);
        int spare = 0;
        for (int k = high; k >= low && !spare; --k) {
            const KeySym *row = map + (k - low) * per_key;
            if (std::all_of(row, row + per_key, [](KeySym s) { return s == NoSymbol; })) spare = k;
        }
        XFree(map);
        if (!spare) throw std::runtime_error("no spare key for a typed character");
        KeySym both[2] = {symbol, symbol};
        XChangeKeyboardMapping(x, spare, 2, both, 1);
        XSync(x, False);
    }
    if (x) XCloseDisplay(x);
}

} // namespace

std::string Xdotool::run(const std::vector<std::string> &args) const
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("xdotool"));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    gchar **env = g_environ_setenv(g_get_environ(), "DISPLAY", display_.c_str(), TRUE);
    GPid pid;
    gint out_fd;
    GError *error = nullptr;
    const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD);
    const bool started =
        g_spawn_async_with_pipes(nullptr, argv.data(), env, flags, nullptr, nullptr, &pid, nullptr, &out_fd, nullptr,
                                 &error);
    g_strfreev(env);
    if (!started) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("xdotool: " + message);
    }
    Child child;
    g_child_watch_add(pid, child_ended, &child);
    // The program's own windows answer only while its main loop turns. A search waits for a
    // window another program shows: on a loaded machine that may take as long as a run's start.
    const bool ended = wait_until([&] { return child.done; }, RUN_WAIT_MS);
    if (!ended) {
        // Its output ends with it.
        kill(pid, SIGKILL);
        wait_until([&] { return child.done; }, 5000);
    }
    std::string out;
    char buffer[512];
    ssize_t n;
    while ((n = read(out_fd, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
    close(out_fd);
    if (!ended) throw std::runtime_error("xdotool did not end: " + args.front());
    if (!g_spawn_check_wait_status(child.status, nullptr)) throw std::runtime_error("xdotool failed: " + args.front());
    return out;
}

std::string Xdotool::search(const std::string &name) const
{
    std::string out = run({"search", "--sync", "--onlyvisible", "--name", name});
    const std::size_t end = out.find('\n');
    return out.substr(0, end);
}

void Xdotool::focus(const std::string &window) const
{
    run({"windowfocus", "--sync", window});
}

void Xdotool::type(const std::string &text) const
{
    map_for_good(display_, text);
    run({"type", "--delay", "20", text});
}

void Xdotool::key(const std::vector<std::string> &keys) const
{
    std::vector<std::string> args{"key", "--delay", "50"};
    args.insert(args.end(), keys.begin(), keys.end());
    run(args);
}

void Xdotool::click(const std::string &window, int x, int y, int button) const
{
    run({"mousemove", "--sync", "--window", window, std::to_string(x), std::to_string(y), "click",
         std::to_string(button)});
}

void Xdotool::move(const std::string &window, int x, int y) const
{
    run({"mousemove", "--sync", "--window", window, std::to_string(x), std::to_string(y)});
}

void Xdotool::close_window(const std::string &window) const
{
    Display *x = XOpenDisplay(display_.c_str());
    if (!x) throw std::runtime_error("cannot open display " + display_);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = std::stoul(window);
    e.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(x, e.xclient.window, False, NoEventMask, &e);
    XCloseDisplay(x);
    if (!sent) throw std::runtime_error("cannot ask window " + window + " to close");
}

std::string x_window_id(GtkWidget *window)
{
    GdkSurface *surface = gtk_native_get_surface(GTK_NATIVE(window));
    return std::to_string(gdk_x11_surface_get_xid(surface));
}

void widget_centre(GtkWidget *widget, int *x, int *y)
{
    GtkWidget *root = GTK_WIDGET(gtk_widget_get_root(widget));
    double wx = 0, wy = 0;
    gtk_widget_translate_coordinates(widget, root, gtk_widget_get_width(widget) / 2.0,
                                     gtk_widget_get_height(widget) / 2.0, &wx, &wy);
    *x = static_cast<int>(wx);
    *y = static_cast<int>(wy);
}

namespace {

// The tooltip showing over a window (GTK hangs it under the window's widget), or nullptr.
GtkWidget *visible_tooltip(GtkWidget *window)
{
    for (GtkWidget *c = gtk_widget_get_first_child(window); c; c = gtk_widget_get_next_sibling(c))
        if (std::strcmp(G_OBJECT_TYPE_NAME(c), "GtkTooltipWindow") == 0 && gtk_widget_get_mapped(c)) return c;
    return nullptr;
}

std::string label_text(GtkWidget *w)
{
    if (GTK_IS_LABEL(w) && gtk_widget_get_visible(w)) return gtk_label_get_text(GTK_LABEL(w));
    std::string text;
    for (GtkWidget *c = gtk_widget_get_first_child(w); c; c = gtk_widget_get_next_sibling(c)) text += label_text(c);
    return text;
}

} // namespace

std::string shown_tooltip(GtkWidget *widget)
{
    GtkWidget *window = GTK_WIDGET(gtk_widget_get_root(widget));
    const Xdotool user(gui_display());
    const std::string id = x_window_id(window);
    int x = 0, y = 0;
    widget_centre(widget, &x, &y);
    // On a loaded machine GTK now and then shows no tooltip for one arrival of the pointer (one
    // case in four of a table, seen at a load of 28 on eight cores): the pointer leaves and comes
    // back, up to three times within the one wait.
    constexpr int ATTEMPTS = 3;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        user.move(id, 1, 1);
        wait_until([&] { return visible_tooltip(window) == nullptr; }, WAIT_MS / ATTEMPTS);
        user.move(id, x, y);
        if (wait_until([&] { return visible_tooltip(window) != nullptr; }, WAIT_MS / ATTEMPTS))
            return label_text(visible_tooltip(window));
    }
    return "";
}

} // namespace lumba_test
