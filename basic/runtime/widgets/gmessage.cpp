// Modal message dialogs as our own windows: the chosen button's index travels through a pipe to
// the caller, which waits for it inside the main loop (a watch on the pipe wakes the loop; the
// signal safe point runs after every iteration).
#include "gmessage.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <glib-unix.h>
#include <unistd.h>

#include "applications.h"
#include "cases.h"
#include "ccallback.h"
#include "cclick.h"
#include "cmatrix.h"
#include "executor.h"
#include "gdata.h"
#include "hooks.h"
#include "interp.h"
#include "message.h"
#include "run_time.h"
#include "signals.h"

namespace {

struct MessageType {
    char letter;
    const char *style;
    std::vector<std::string> buttons;
    int default_button;
    int cancel;  // answer when the window is closed unanswered
};

const MessageType message_types[] = {
    {'E', "error", {"_Close"}, 0, -1},       {'F', "error", {"_Close"}, 0, -1},
    {'I', "info", {"_Ok"}, 0, -1},           {'O', "other", {"_Close"}, 0, -1},
    {'Q', "question", {"_Yes", "_No"}, 1, 1}, {'W', "warning", {"_Ok"}, 0, -1},
};

// A message's text wraps at words, and inside a word too long for a line, within this many
// characters' width; past this height it scrolls, so that the buttons stay on the screen.
constexpr int message_max_width_chars = 80;
constexpr int message_max_height = 480;

// What one dialog shows.
struct DialogSpec {
    const char *caller;
    const char *pipe_message;  // the stop when no pipe can be made
    std::string heading;
    std::string text;
    const char *style;         // nullptr: none
    std::vector<std::string> buttons;
    int default_button;
    int cancel;
};

// The write end of a dialog's pipe and its answer, owned by the dialog window.
struct Dialog {
    int write_fd;
    int cancel;
    bool answered;
};

DialogAnswerer &installed_answerer()
{
    static DialogAnswerer answerer;
    return answerer;
}

void answer(Dialog *d, int index)
{
    if (d->answered) return;
    d->answered = true;
    const std::int32_t value = index;
    const ssize_t n = write(d->write_fd, &value, sizeof value);
    close(d->write_fd);
    if (n != static_cast<ssize_t>(sizeof value)) Abort("Can't write response in _on_dialog_response()");
}

void on_button_clicked(GtkButton *button, gpointer data)
{
    forms_callback([&] {
        answer(static_cast<Dialog *>(data), GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "lumba-index")));
        gtk_window_destroy(GTK_WINDOW(gtk_widget_get_root(GTK_WIDGET(button))));
    });
}

gboolean on_close_request(GtkWindow *, gpointer data)
{
    forms_callback([&] {
        auto *d = static_cast<Dialog *>(data);
        answer(d, d->cancel);
    });
    return FALSE;
}

void free_dialog(gpointer data)
{
    auto *d = static_cast<Dialog *>(data);
    forms_callback([&] { answer(d, d->cancel); });  // a window destroyed otherwise still answers
    delete d;
    // The click that led here may never see its release: the next press is a first one again.
    cclick_reset_gesture();
}

// A scripted answer, carried out from the main loop while the caller waits.
struct Scripted {
    GtkWidget *window;  // weak: cleared if the dialog goes first
    GtkWidget *button;  // the button to press, or nullptr
    int action;
};

gboolean carry_out(gpointer data)
{
    auto *s = static_cast<Scripted *>(data);
    if (s->window) {
        g_object_remove_weak_pointer(G_OBJECT(s->window), reinterpret_cast<gpointer *>(&s->window));
        if (s->button)
            g_signal_emit_by_name(s->button, "clicked");
        else if (s->action == DIALOG_CLOSE)
            gtk_window_close(GTK_WINDOW(s->window));
        else if (s->action == DIALOG_DESTROY)
            gtk_window_destroy(GTK_WINDOW(s->window));
    }
    delete s;
    return G_SOURCE_REMOVE;
}

void offer_to_answerer(const DialogSpec &spec, GtkWidget *window, GtkWindow *parent,
                       const std::vector<GtkWidget *> &buttons)
{
    const DialogAnswerer &answerer = installed_answerer();
    if (!answerer) return;
    const DialogRequest request{spec.caller,   spec.heading, spec.text, spec.style ? spec.style : "",
                                spec.buttons, GTK_WINDOW(window), parent};
    const int action = answerer(request);
    if (action == DIALOG_LEAVE) return;
    auto *s = new Scripted{window, nullptr, action};
    if (action >= 0 && static_cast<std::size_t>(action) < buttons.size()) s->button = buttons[action];
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer *>(&s->window));
    g_idle_add(carry_out, s);
}

gboolean keep_source(gpointer) { return G_SOURCE_CONTINUE; }

// The waiting side: the read end and the main-loop sources that wake the loop for it.
class Wait {
public:
    explicit Wait(int fd) : fd_(fd)
    {
        if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0)
            Abort("fcntl() error in _wait_and_read %d, %s", errno, std::strerror(errno));
        watch_ = g_unix_fd_source_new(fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
        g_source_set_callback(watch_, keep_source, nullptr, nullptr);
        g_source_attach(watch_, nullptr);
        // Wakes the loop now and then, so that a signal is acted on even when nothing else stirs.
        tick_ = g_timeout_source_new(100);
        g_source_set_callback(tick_, keep_source, nullptr, nullptr);
        g_source_attach(tick_, nullptr);
    }
    ~Wait()
    {
        for (GSource *s : {watch_, tick_}) {
            g_source_destroy(s);
            g_source_unref(s);
        }
        close(fd_);
    }
    Wait(const Wait &) = delete;
    Wait &operator=(const Wait &) = delete;

    // Reads the 4-byte answer, iterating the main loop until it is there.
    int read_answer()
    {
        std::int32_t value = 0;
        ssize_t n;
        for (;;) {
            n = read(fd_, &value, sizeof value);
            if (n >= 0 || (errno != EAGAIN && errno != EINTR)) break;
            g_main_context_iteration(nullptr, TRUE);
            forms_rethrow_kept();
            check_signals();
        }
        if (n != static_cast<ssize_t>(sizeof value))
            Abort("Can't read result in _wait_and_read; bytes: %d; expected: %d", static_cast<int>(n),
                  static_cast<int>(sizeof value));
        return value;
    }

private:
    int fd_;
    GSource *watch_, *tick_;
};

// Destroys the dialog window if it is still up when the wait ends otherwise than by its answer.
class DialogWindow {
public:
    explicit DialogWindow(GtkWidget *w) : window_(w)
    {
        g_object_add_weak_pointer(G_OBJECT(w), reinterpret_cast<gpointer *>(&window_));
    }
    ~DialogWindow()
    {
        if (!window_) return;
        g_object_remove_weak_pointer(G_OBJECT(window_), reinterpret_cast<gpointer *>(&window_));
        gtk_window_destroy(GTK_WINDOW(window_));
    }
    DialogWindow(const DialogWindow &) = delete;
    DialogWindow &operator=(const DialogWindow &) = delete;

private:
    GtkWidget *window_;
};

// Text fit for a label: invalid UTF-8 replaced, cut at a character boundary within max bytes.
std::string shown(std::string_view text, std::size_t max = std::string::npos)
{
    gchar *valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string s(valid);
    g_free(valid);
    if (s.size() > max) {
        const char *end = g_utf8_find_prev_char(s.c_str(), s.c_str() + max + 1);
        s.resize(end ? static_cast<std::size_t>(end - s.c_str()) : 0);
    }
    return s;
}

// The parent: the newest CM's window, its prior's while it has none yet; only a real window.
GtkWindow *parent_window()
{
    ControlMatrix_t *cm = global_data ? global_data->last_cm : nullptr;
    if (cm && !cm->window) cm = cm->prior;
    return cm_real_window(cm);
}

// A label that wraps at words, and at characters within a word longer than the line.
void wrap_within_width(GtkWidget *label)
{
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(GTK_LABEL(label), message_max_width_chars);
}

// The text as the dialog lays it out: a run of tabs sets what follows apart in a column the
// dialog's wrapped text has no room for, so it starts a line of its own instead.
std::string tabs_as_lines(const std::string &text)
{
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\t' && i + 1 < text.size() && text[i + 1] == '\t') {
            while (i + 1 < text.size() && text[i + 1] == '\t') ++i;
            shown += '\n';
        } else {
            shown += text[i];
        }
    }
    return shown;
}

// Escape asks the dialog to close, as its title bar's button does: it answers the cancel button.
void dismiss_on_escape(GtkWidget *window)
{
    GtkEventController *keys = gtk_shortcut_controller_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(keys),
                                         gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                                                          gtk_named_action_new("window.close")));
    gtk_widget_add_controller(window, keys);
}

void cursors_inactive()
{
    for (ControlMatrix_t *cm = global_data ? global_data->first_cm : nullptr; cm; cm = cm->next)
        ccursor_set_inactive(cm);
}

// Builds the dialog, shows it and waits for its answer.
int run_dialog(const DialogSpec &spec, bool inactive_cursors, bool log_fatal)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) Abort("%s", spec.pipe_message);
    GtkWindow *parent = parent_window();

    GtkWidget *window = gtk_window_new();
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_title(GTK_WINDOW(window), spec.heading.c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    if (parent) gtk_window_set_transient_for(GTK_WINDOW(window), parent);
    auto *d = new Dialog{fds[1], spec.cancel, false};
    g_object_set_data_full(G_OBJECT(window), "lumba-dialog", d, free_dialog);
    g_signal_connect(window, "close-request", G_CALLBACK(on_close_request), d);

    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_start(box, 18);
    gtk_widget_set_margin_end(box, 18);
    gtk_widget_set_margin_top(box, 18);
    gtk_widget_set_margin_bottom(box, 18);
    GtkWidget *heading = gtk_label_new(spec.heading.c_str());
    gtk_widget_add_css_class(heading, "title-4");
    wrap_within_width(heading);
    gtk_box_append(GTK_BOX(box), heading);
    GtkWidget *body = gtk_label_new(tabs_as_lines(spec.text).c_str());
    wrap_within_width(body);
    gtk_label_set_selectable(GTK_LABEL(body), TRUE);  // the user may copy the text out
    gtk_widget_set_focusable(body, FALSE);             // but the keyboard goes to the buttons
    gtk_label_set_xalign(GTK_LABEL(body), 0);
    gtk_label_set_yalign(GTK_LABEL(body), 0);
    GtkWidget *scroller = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_propagate_natural_width(GTK_SCROLLED_WINDOW(scroller), TRUE);
    gtk_scrolled_window_set_propagate_natural_height(GTK_SCROLLED_WINDOW(scroller), TRUE);
    gtk_scrolled_window_set_max_content_height(GTK_SCROLLED_WINDOW(scroller), message_max_height);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), body);
    gtk_box_append(GTK_BOX(box), scroller);
    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_widget_set_halign(row, GTK_ALIGN_END);
    std::vector<GtkWidget *> buttons;
    for (std::size_t i = 0; i < spec.buttons.size(); ++i) {
        GtkWidget *button = gtk_button_new_with_mnemonic(spec.buttons[i].c_str());
        g_object_set_data(G_OBJECT(button), "lumba-index", GINT_TO_POINTER(static_cast<int>(i)));
        g_signal_connect(button, "clicked", G_CALLBACK(on_button_clicked), d);
        gtk_box_append(GTK_BOX(row), button);
        buttons.push_back(button);
    }
    gtk_box_append(GTK_BOX(box), row);
    gtk_window_set_child(GTK_WINDOW(window), box);
    GtkWidget *chosen = spec.default_button >= 0 && static_cast<std::size_t>(spec.default_button) < buttons.size()
                            ? buttons[spec.default_button]
                            : nullptr;
    if (chosen) gtk_window_set_default_widget(GTK_WINDOW(window), chosen);
    if (spec.style) gtk_widget_add_css_class(window, spec.style);
    dismiss_on_escape(window);

    // The read end closes last: a window destroyed on the way out still writes its answer.
    Wait wait(fds[0]);
    const DialogWindow guard(window);
    gtk_window_present(GTK_WINDOW(window));
    if (chosen) gtk_widget_grab_focus(chosen);
    if (inactive_cursors) cursors_inactive();
    if (log_fatal && global_data && global_data->log_level_lumbas >= -1) _mlog(1, -1, "%s", spec.text.c_str());
    offer_to_answerer(spec, window, parent, buttons);
    return wait.read_answer();
}

bool windows_up()
{
    return !Back_ground && gtk_is_initialized();
}

// Without windows a message or question goes to standard error and the run-time log.
void write_out(const std::string &text, int level)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    if (global_data) _mlog(1, level, "%s", text.c_str());
}

std::string heading_name()
{
    const char *app = CurrentApplicationName();
    std::string name = app ? app : "Oska";
    name = name.substr(0, 31);
    return name.substr(0, name.find('_'));
}

std::string heading_line(std::string line)
{
    return shown(line.substr(0, line.find('\n')), 2047);
}

// A value-stack entry as a text: a number's shortest text, a string's bytes.
std::string value_text(const Stack &entry)
{
    if (intr::is_number(entry)) return Convert_BCD(intr::number(entry));
    return std::string(intr::text(entry));
}

std::string question_text(const char *text, const std::vector<std::string> &labels)
{
    std::string line = text;
    line += " [";
    for (std::size_t i = 0; i < labels.size(); ++i) line += (i ? " | " : "") + labels[i];
    return line + "]";
}

} // namespace

void gmessage(const char *text, const char *type)
{
    gmessage_ask(text, type);
}

int gmessage_ask(const char *text, const char *type)
{
    const char letter = type && *type ? static_cast<char>(std::toupper(static_cast<unsigned char>(*type))) : 'I';
    const MessageType *kind = nullptr;
    for (const auto &t : message_types)
        if (t.letter == letter) kind = &t;
    if (!kind) Abort("Unknown gmessage type '%s'", type);
    if (!windows_up()) {
        write_out(text, letter == 'F' ? -1 : 9);
        return -1;
    }
    const std::string line = oska_do_test ? heading_name() + ":" + CurrentRoutineName() + "::" + text
                                          : heading_name() + ":" + ProgramPoint();
    const DialogSpec spec{"gmessage", "Can't create pipe for gmessage", heading_line(line), shown(text),
                          kind->style, kind->buttons, kind->default_button, kind->cancel};
    return run_dialog(spec, true, letter == 'F');
}

int gdialog(const char *text, const std::vector<std::string> &labels)
{
    if (!windows_up()) {
        // Nobody can answer: the answer of a dialog closed unanswered.
        write_out(question_text(text, labels), 9);
        return -1;
    }
    std::vector<std::string> buttons;
    for (const std::string &label : labels) buttons.push_back(shown(label));
    const DialogSpec spec{"gdialog", "Can't create pipe for gdialog", heading_line(ProgramPoint()), shown(text),
                          nullptr, buttons, 0, -1};
    const int chosen = run_dialog(spec, true, false);
    ccursor_set_standard(global_data ? global_data->last_cm : nullptr);
    return chosen;
}

int Mgdialog(const char *text, const char *label1, const char *label2)
{
    if (!windows_up()) {
        write_out(question_text(text, {label1, label2}), 9);
        return -1;
    }
    const DialogSpec spec{"Mgdialog", "Can't create pipe for Mgdialog", heading_line(ProgramPoint()), shown(text),
                          nullptr, {shown(label1), shown(label2)}, 0, -1};
    return run_dialog(spec, false, false);
}

DialogAnswerer set_dialog_answerer(DialogAnswerer answerer)
{
    DialogAnswerer old = std::move(installed_answerer());
    installed_answerer() = std::move(answerer);
    return old;
}

// ---- Intrinsics -----------------------------------------------------------------------------------------

void igdialog(int nargs, int last, Stack *result)
{
    FORMS_TRACE;
    if (nargs < 2) Abort("Invalid number of parameters");
    if (open_transactions() > 0) Debug("IGDIALOG is called within a PgSQL transaction!");
    const std::string text = value_text(intr::arg(nargs, last, 0));
    std::vector<std::string> labels;
    for (int i = 1; i < nargs; ++i) labels.push_back(value_text(intr::arg(nargs, last, i)));
    intr::set_number(result, gdialog(text.c_str(), labels));
}

void igmessage(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs < 1 || nargs > 3) Abort("Invalid number of parameters");
    // Any third argument, whatever its value, is the program's word that it knows.
    if (nargs < 3 && open_transactions() > 0) Debug("IGMESSAGE is called within a PgSQL transaction!");
    const Stack &message = intr::arg(nargs, last, 0);
    if (intr::is_text(message) && !intr::text(message).data()) return;  // no text: nothing to show
    const std::string text = value_text(message);
    const std::string type = nargs >= 2 ? std::string(intr::text(intr::arg(nargs, last, 1))) : std::string();
    gmessage(text.c_str(), nargs >= 2 ? type.c_str() : nullptr);
}
