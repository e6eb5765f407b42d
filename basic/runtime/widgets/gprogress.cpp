// The progress window: one modal window that a routine running a long task opens, rewrites and
// closes, and whose Cancel button it asks about. The routine keeps the main thread busy, so every
// call that changes the window runs the pending main-loop events itself.
#include "gprogress.h"

#include <unistd.h>

#include "cases.h"
#include "cmatrix.h"
#include "gdata.h"
#include "gmisc.h"
#include "gwindow.h"
#include "message.h"
#include "run_time.h"
#include "signals.h"

struct ProgressMeter_t {
    int type;           // always 1
    GtkWidget *window;
    int active;         // 1 from creation, 0 once Cancel was pressed
    GtkWidget *label;
};

namespace {

void run_pending()
{
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

gboolean refuse_close(GtkWindow *, gpointer) { return TRUE; }

void meter_gone(GtkWidget *, gpointer data)
{
    auto *meter = static_cast<ProgressMeter_t *>(data);
    if (global_data && global_data->progress_meter == meter) global_data->progress_meter = nullptr;
    g_free(meter);
}

void on_cancel(GtkGestureClick *, int, double, double, gpointer data)
{
    static_cast<ProgressMeter_t *>(data)->active = 0;
}

ProgressMeter_t *open_meter()
{
    ProgressMeter_t *meter = global_data->progress_meter;
    if (!meter) assertion_failed(__FILE__, __LINE__, "global_data->progress_meter");
    return meter;
}

} // namespace

void igprogress_create(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 4 && nargs != 5) Abort("Invalid number of parameters");
    GlobalData_t *gd = global_data;
    if (gd->log_level_lumbas > 2) mlog(3, "Do gprogress_create");
    if (intr::integer(intr::arg(nargs, last, 0)) != 1) Abort("Type must be one");
    intr::number(intr::arg(nargs, last, 1));  // two numbers the window does not use
    intr::number(intr::arg(nargs, last, 2));
    const std::string markup(intr::text(intr::arg(nargs, last, 3)));
    const bool cancel = nargs == 5 && intr::integer(intr::arg(nargs, last, 4)) != 0;
    if (gd->progress_meter) assertion_failed(__FILE__, __LINE__, "!global_data->progress_meter");

    auto *meter = g_new0(ProgressMeter_t, 1);
    meter->type = 1;
    meter->active = 1;
    gd->progress_meter = meter;
    GtkWidget *window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 400, 100);
    gtk_window_set_title(GTK_WINDOW(window), "Oska Working .......");
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_deletable(GTK_WINDOW(window), FALSE);
    g_signal_connect(window, "close-request", G_CALLBACK(refuse_close), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(meter_gone), meter);
    if (GtkWindow *parent = cm_real_window(gd->last_cm)) gtk_window_set_transient_for(GTK_WINDOW(window), parent);
    gwindow_move(window, 5, 1, 1);

    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_window_set_child(GTK_WINDOW(window), row);
    GtkWidget *column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    oska_box_append(row, column, 1, 0, 10);
    meter->label = gtk_label_new(nullptr);
    oska_label_set_markup(meter->label, markup.c_str());
    oska_box_append(column, meter->label, 0, 0, 20);
    if (cancel) {
        GtkWidget *second = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        oska_box_append(row, second, 0, 0, 10);
        GtkWidget *button = gtk_button_new_with_mnemonic("_Cancel");
        oska_box_append(second, button, 0, 0, 20);
        GtkGesture *click = gtk_gesture_click_new();
        gtk_event_controller_set_name(GTK_EVENT_CONTROLLER(click), "gprogress-cancel");
        gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);
        gtk_gesture_single_set_exclusive(GTK_GESTURE_SINGLE(click), TRUE);
        g_signal_connect(click, "pressed", G_CALLBACK(on_cancel), meter);
        gtk_widget_add_controller(button, GTK_EVENT_CONTROLLER(click));
    }
    gtk_window_present(GTK_WINDOW(window));
    meter->window = window;

    // Let the window be mapped and drawn before the routine goes on: rounds of a pause and the
    // pending events, until a round finds none (ten rounds at most).
    for (int round = 0; round < 10; ++round) {
        usleep(200000);
        if (!g_main_context_pending(nullptr)) break;
        run_pending();
    }
    check_signals();
}

void igprogress_update(int nargs, int last)
{
    FORMS_TRACE;
    if (nargs != 1) Abort("Invalid number of parameters");
    const std::string markup(intr::text(intr::arg(nargs, last, 0)));
    ProgressMeter_t *meter = open_meter();
    oska_label_set_markup(meter->label, markup.c_str());
    gtk_window_present(GTK_WINDOW(meter->window));
    run_pending();
    check_signals();
}

void igprogress_is_cancelled(int nargs, int, Stack *result)
{
    FORMS_TRACE;
    intr::set_number(result, open_meter()->active == 0 ? 1 : 0);
}

void igprogress_destroy(int, int)
{
    FORMS_TRACE;
    ProgressMeter_t *meter = global_data->progress_meter;
    if (!meter) return;
    if (global_data->log_level_lumbas > 2) mlog(3, "Do gprogress_destroy");
    gtk_window_destroy(GTK_WINDOW(meter->window));
}
