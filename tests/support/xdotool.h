// Driving a GUI as a user does, with xdotool on the test's X server: find a window by its title
// (waiting until it shows), give it the keyboard focus (windowfocus, waiting until it has it), type,
// press keys and click. While xdotool runs, the test program's main loop turns, so that its own
// windows answer it.
#pragma once

#include <string>
#include <vector>

#include <gtk/gtk.h>

namespace lumba_test {

class Xdotool {
public:
    explicit Xdotool(std::string display) : display_(std::move(display)) {}

    // Runs xdotool with args; its standard output. A failure (or 30 s) throws std::runtime_error.
    std::string run(const std::vector<std::string> &args) const;

    // The first visible window whose title matches name (a regular expression), waiting for it.
    std::string search(const std::string &name) const;
    void focus(const std::string &window) const;
    void type(const std::string &text) const;
    // Key names as xdotool takes them ("Tab", "Return", "ctrl+w"), pressed one after another.
    void key(const std::vector<std::string> &keys) const;
    // Clicks a button (1 left) at (x, y) of the window, moving the pointer there first.
    void click(const std::string &window, int x, int y, int button = 1) const;
    // Moves the pointer to (x, y) of the window.
    void move(const std::string &window, int x, int y) const;
    // Asks the window to close as its title bar's close button does: the WM_DELETE_WINDOW message
    // a window manager sends (xdotool's windowclose would destroy the window instead).
    void close_window(const std::string &window) const;

private:
    std::string display_;
};

// The X window id (decimal, as xdotool prints it) of a toplevel of the test program.
std::string x_window_id(GtkWidget *window);
// Where a widget lies in its toplevel window: the middle of it, in the window's coordinates.
void widget_centre(GtkWidget *widget, int *x, int *y);
// The tooltip a user sees resting the pointer on the middle of an in-process widget: the pointer
// leaves the window's top-left corner for it, and the text is read from the tooltip once it
// shows; "" when none shows within the wait.
std::string shown_tooltip(GtkWidget *widget);

} // namespace lumba_test
