// Modal message dialogs as our own windows: the chosen button's index travels through a pipe to
// the caller, which polls it while iterating the main loop.
#include "gmessage.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "gdata.h"
#include "message.h"
#include "applications.h"
#include "interp.h"
#include "run_time.h"

namespace {

struct MessageType {
    char letter;
    const char *style;
    std::vector<const char *> buttons;
    int default_button;
    int cancel;  // answer when the window is closed
};

const MessageType message_types[] = {
    {'E', "error", {"_Close"}, 0, -1},       {'F', "error", {"_Close"}, 0, -1},
    {'I', "info", {"_Ok"}, 0, -1},           {'O', "other", {"_Close"}, 0, -1},
    {'Q', "question", {"_Yes", "_No"}, 1, 1}, {'W', "warning", {"_Ok"}, 0, -1},
};

struct Dialog {
    int write_fd;
    int cancel;
    bool answered;
};

void answer(Dialog *d, int index)
{
    if (d->answered) return;
    d->answered = true;
    std::int32_t value = index;
    ssize_t n = write(d->write_fd, &value, sizeof value);
    close(d->write_fd);
    if (n != static_cast<ssize_t>(sizeof value)) Abort("Can't write response in _on_dialog_response()");
}

void on_button_clicked(GtkButton *button, gpointer data)
{
    auto *d = static_cast<Dialog *>(data);
    answer(d, GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "lumba-index")));
    gtk_window_destroy(GTK_WINDOW(gtk_widget_get_root(GTK_WIDGET(button))));
}

gboolean on_close_request(GtkWindow *, gpointer data)
{
    auto *d = static_cast<Dialog *>(data);
    answer(d, d->cancel);
    return FALSE;
}

void free_dialog(gpointer data)
{
    auto *d = static_cast<Dialog *>(data);
    answer(d, d->cancel);  // a window destroyed otherwise still answers
    delete d;
}

// Reads the 4-byte answer, running the main loop (and the signal safe point) while waiting.
int wait_and_read(int fd)
{
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0)
        Abort("fcntl() error in _wait_and_read %d, %s", errno, std::strerror(errno));
    std::int32_t value = 0;
    ssize_t n;
    for (;;) {
        n = read(fd, &value, sizeof value);
        if (n >= 0 || (errno != EAGAIN && errno != EINTR)) break;
        g_main_context_iteration(nullptr, FALSE);
        check_signals();
        usleep(500);
    }
    close(fd);
    if (n != static_cast<ssize_t>(sizeof value))
        Abort("Can't read result in _wait_and_read; bytes: %d; expected: %d", static_cast<int>(n),
              static_cast<int>(sizeof value));
    return value;
}

std::string heading_name()
{
    const char *app = CurrentApplicationName();
    std::string name = app ? app : "Oska";
    name = name.substr(0, 31);
    return name.substr(0, name.find('_'));
}

// Shows the dialog and waits for its answer.
int run_dialog(const char *pipe_message, const std::string &line, const char *detail, const char *style,
               const std::vector<const char *> &buttons, int default_button, int cancel, bool log_fatal)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) Abort("%s", pipe_message);

    GtkWidget *window = gtk_window_new();
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_title(GTK_WINDOW(window), line.c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    auto *d = new Dialog{fds[1], cancel, false};
    g_object_set_data_full(G_OBJECT(window), "lumba-dialog", d, free_dialog);
    g_signal_connect(window, "close-request", G_CALLBACK(on_close_request), d);

    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_start(box, 18);
    gtk_widget_set_margin_end(box, 18);
    gtk_widget_set_margin_top(box, 18);
    gtk_widget_set_margin_bottom(box, 18);
    GtkWidget *heading = gtk_label_new(line.c_str());
    gtk_widget_add_css_class(heading, "title-4");
    gtk_label_set_wrap(GTK_LABEL(heading), TRUE);
    gtk_box_append(GTK_BOX(box), heading);
    GtkWidget *body = gtk_label_new(detail);
    gtk_label_set_wrap(GTK_LABEL(body), TRUE);
    gtk_label_set_selectable(GTK_LABEL(body), TRUE);
    gtk_label_set_xalign(GTK_LABEL(body), 0);
    gtk_box_append(GTK_BOX(box), body);
    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_widget_set_halign(row, GTK_ALIGN_END);
    GtkWidget *chosen = nullptr;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        GtkWidget *button = gtk_button_new_with_mnemonic(buttons[i]);
        g_object_set_data(G_OBJECT(button), "lumba-index", GINT_TO_POINTER(static_cast<int>(i)));
        g_signal_connect(button, "clicked", G_CALLBACK(on_button_clicked), d);
        gtk_box_append(GTK_BOX(row), button);
        if (static_cast<int>(i) == default_button) chosen = button;
    }
    gtk_box_append(GTK_BOX(box), row);
    gtk_window_set_child(GTK_WINDOW(window), box);
    if (chosen) gtk_window_set_default_widget(GTK_WINDOW(window), chosen);
    if (style) gtk_widget_add_css_class(window, style);
    gtk_window_present(GTK_WINDOW(window));
    if (chosen) gtk_widget_grab_focus(chosen);

    if (log_fatal && global_data && global_data->log_level_lumbas >= -1) _mlog(1, -1, "%s", detail);
    return wait_and_read(fds[0]);
}

bool windows_up()
{
    return !Back_ground && gtk_is_initialized();
}

} // namespace

void gmessage(const char *text, const char *type)
{
    const char letter = type && *type ? static_cast<char>(std::toupper(static_cast<unsigned char>(*type))) : 'I';
    const MessageType *kind = nullptr;
    for (const auto &t : message_types)
        if (t.letter == letter) kind = &t;
    if (!kind) Abort("Unknown gmessage type '%s'", type);
    if (!windows_up()) {
        std::fprintf(stderr, "%s\n", text);
        std::fflush(stderr);
        if (letter == 'F' && global_data && global_data->log_level_lumbas >= -1) _mlog(1, -1, "%s", text);
        return;
    }
    std::string line = oska_do_test ? heading_name() + ":" + CurrentRoutineName() + "::" + text
                                     : heading_name() + ":" + ProgramPoint();
    line = line.substr(0, line.find('\n')).substr(0, 2047);
    run_dialog("Can't create pipe for gmessage", line, text, kind->style, kind->buttons, kind->default_button,
               kind->cancel, letter == 'F');
}

int Mgdialog(const char *text, const char *label1, const char *label2)
{
    if (!windows_up()) Abort("Mgdialog: not in windows mode");
    return run_dialog("Can't create pipe for Mgdialog", ProgramPoint(), text, nullptr, {label1, label2}, 0, -1,
                      false);
}
