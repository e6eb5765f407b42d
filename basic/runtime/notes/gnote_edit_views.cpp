// The note edit window's paragraph views and amount inputs: the mouse marks by which a drag across
// views selects a block of elements, the focus moving between views and inputs, keeping the
// focused element in sight, and the amounts taken from their inputs with the total they make.
// gnote_edit_views_install puts the mouse, pointer and focus controllers on a view or input.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "ccallback.h"
#include "ginput.h"
#include "gmisc.h"
#include "gnote_edit_parts.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"

namespace {

// A release and the pointer entering another paragraph view within this many microseconds are
// one drag.
constexpr std::int64_t SELECT_WINDOW_USEC = 10'000;
constexpr std::int64_t USEC_PER_SEC = 1'000'000;
constexpr int TOTAL_MARGIN = 25;

std::int64_t monotonic_clock() { return g_get_monotonic_time(); }
NoteSelectClock select_clock = monotonic_clock;

// The elements keep a time as seconds and microseconds (two int32 fields of the record); a
// monotonic clock's seconds fit them for 68 years of uptime.
void stamp(NoteElement_t *e)
{
    const std::int64_t now = select_clock();
    e->release_sec = static_cast<std::int32_t>(now / USEC_PER_SEC);
    e->release_usec = static_cast<std::int32_t>(now % USEC_PER_SEC);
}

std::int64_t stamp_of(const NoteElement_t *e)
{
    return std::int64_t{e->release_sec} * USEC_PER_SEC + e->release_usec;
}

void clear_marks(NoteElement_t *e)
{
    e->press_mark = e->release_mark = e->release_sec = e->release_usec = 0;
}

bool is_view_paragraph(const NoteElement_t *e)
{
    return e->type == CM_GNOTE_NOTE_TYPE_P || e->type == CM_GNOTE_NOTE_TYPE_HIDE;
}

void cursor_to_buffer_end(GtkTextBuffer *buffer)
{
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    gtk_text_buffer_place_cursor(buffer, &end);
}

// The first paragraph (type 1) whose view is widget, or nullptr.
NoteElement_t *paragraph_of_view(NoteData_t *n, const GtkWidget *widget)
{
    for (NoteElement_t *e = n->note; e; e = e->next)
        if (e->type == CM_GNOTE_NOTE_TYPE_P && e->p.view == widget) return e;
    return nullptr;
}

// Sets an amount input's text as the window's own doing, not an edit: the input's Edit_Content
// checks (connected with the element as their data) stay out of it.
void set_amount_text(NoteElement_t *am, const char *text)
{
    GtkEditable *input = GTK_EDITABLE(am->am.input);
    if (std::strcmp(gtk_editable_get_text(input), text) == 0) return;
    GtkEditable *delegate = gtk_editable_get_delegate(input);
    g_signal_handlers_block_matched(delegate, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, am);
    gtk_editable_set_text(input, text);
    g_signal_handlers_unblock_matched(delegate, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, am);
}

void name_selected(NoteElement_t *e)
{
    switch (e->type) {
    case CM_GNOTE_NOTE_TYPE_P: gtk_widget_set_name(e->p.view, "ParNoteSelect"); break;
    case CM_GNOTE_NOTE_TYPE_HIDE:
        if (e->p.view) gtk_widget_set_name(e->p.view, "HideNoteSelect");
        break;
    case CM_GNOTE_NOTE_TYPE_AM: gtk_widget_set_name(e->am.input, "AmtNoteSelect"); break;
    default: break;  // a tag keeps its label as it is
    }
}

// The selection made by a drag between two paragraph views: the elements numbered lo to hi (in
// Template mode only, where blocks are tagged) and an amount right after a selected element. The
// marks of the drag are spent either way.
void select_between(NoteData_t *n, int lo, int hi)
{
    int i = 0;
    for (NoteElement_t *e = n->note; e; e = e->next, ++i) {
        e->selected = n->mode == GNOTE_MODE_TEMPLATE && lo <= i && i <= hi;
        clear_marks(e);
        switch (e->type) {
        case CM_GNOTE_NOTE_TYPE_AM:
            if (e->prior && e->prior->selected) e->selected = 1;
            break;
        case CM_GNOTE_NOTE_TYPE_P:
        case CM_GNOTE_NOTE_TYPE_HIDE:
        case CM_GNOTE_NOTE_TYPE_TAG: break;
        default: Abort("Unexpected note type");
        }
        if (!e->selected) continue;
        name_selected(e);
        if (i != hi) continue;
        if (e->type == CM_GNOTE_NOTE_TYPE_P)
            cursor_to_buffer_end(e->p.buffer);
        else if (e->type == CM_GNOTE_NOTE_TYPE_AM)
            gtk_editable_set_position(GTK_EDITABLE(e->am.input), -1);
    }
}

// 1 when the pointer entered entered (now) within the selection window after the release on
// pressed, else 0; stamps entered with the time.
int gnote_compare_select_time(NoteElement_t *entered, NoteElement_t *pressed)
{
    if (entered == pressed) return 0;
    stamp(entered);
    // Both times come from one monotonic clock; a later release than entry (only an installed
    // clock can give one) is no drag.
    const std::int64_t elapsed = stamp_of(entered) - stamp_of(pressed);
    return elapsed >= 0 && elapsed <= SELECT_WINDOW_USEC ? 1 : 0;
}

// The pointer entering view (the view of entered): the end of a drag when the release on the
// pressed paragraph came within the selection window before.
void drag_enter(NoteElement_t *entered, const GtkWidget *view)
{
    NoteData_t *n = entered->note_data;
    NoteElement_t *pressed = nullptr;
    int p = -1, h = -1, i = 0;
    for (NoteElement_t *e = n->note; e; e = e->next, ++i) {
        if (e->press_mark) pressed = e, p = i;
        if (h < 0 && e->type == CM_GNOTE_NOTE_TYPE_P && e->p.view == view) h = i;
    }
    if (!pressed || h < 0 || !pressed->release_mark) return;
    if (!gnote_compare_select_time(entered, pressed)) return;
    select_between(n, std::min(p, h), std::max(p, h));
}

// The paragraph (type 1) whose view lies under (x, y) of widget, or nullptr.
NoteElement_t *paragraph_under(NoteData_t *n, GtkWidget *widget, double x, double y)
{
    if (!n->views_box) return nullptr;
    double bx = 0, by = 0;
    if (!gtk_widget_translate_coordinates(widget, n->views_box, x, y, &bx, &by)) return nullptr;
    for (GtkWidget *w = gtk_widget_pick(n->views_box, bx, by, GTK_PICK_DEFAULT); w; w = gtk_widget_get_parent(w)) {
        if (NoteElement_t *e = paragraph_of_view(n, w)) return e;
        if (w == n->views_box) break;
    }
    return nullptr;
}

// Takes an amount input's text as the amount's value ("nil", and a text that is no number, such as
// one with a comma, are 0), shows it formatted and brings the total up to date.
void take_amount(NoteElement_t *am)
{
    const char *text = gtk_editable_get_text(GTK_EDITABLE(am->am.input));
    if (std::strcmp(text, "nil") == 0 ||
        NumericCvASC(text, static_cast<int>(std::strlen(text)), &am->am.value) != 0 ||
        am->am.value.dec_pos == DECPOSNULL)
        NumericCvINT(0, &am->am.value);
    // Two decimals, so that what is shown, written and totalled is one number.
    gnote_round_amount(&am->am.value);
    char *shown = gnote_format_amount(&am->am.value);
    set_amount_text(am, shown);
    sfree(shown);
    gnote_set_total_amount(am->note_data);
}

// Brings ref wholly into its scrolled window's sight with the smallest move; false when it has no
// place in the content yet (not laid out).
bool scroll_into_sight(GtkWidget *ref)
{
    GtkWidget *scroller = gtk_widget_get_ancestor(ref, GTK_TYPE_SCROLLED_WINDOW);
    if (!scroller) return true;
    GtkWidget *content = gtk_scrolled_window_get_child(GTK_SCROLLED_WINDOW(scroller));
    // A box is held through the viewport the scrolled window puts around it.
    if (GTK_IS_VIEWPORT(content)) content = gtk_viewport_get_child(GTK_VIEWPORT(content));
    graphene_rect_t bounds;
    if (!content || gtk_widget_get_width(ref) <= 0 || !gtk_widget_compute_bounds(ref, content, &bounds))
        return false;
    const auto fit = [](GtkAdjustment *adj, double from, double size) {
        const double value = gtk_adjustment_get_value(adj), page = gtk_adjustment_get_page_size(adj);
        double wanted = value;
        if (from < value)
            wanted = from;
        else if (from + size > value + page)
            wanted = from + size - page;
        wanted = std::max(gtk_adjustment_get_lower(adj),
                          std::min(wanted, gtk_adjustment_get_upper(adj) - page));
        if (wanted != value) gtk_adjustment_set_value(adj, wanted);
    };
    GtkScrolledWindow *sw = GTK_SCROLLED_WINDOW(scroller);
    fit(gtk_scrolled_window_get_vadjustment(sw), bounds.origin.y, bounds.size.height);
    fit(gtk_scrolled_window_get_hadjustment(sw), bounds.origin.x, bounds.size.width);
    return true;
}

// A widget of views just rebuilt is placed at the next layout: it is brought into sight then. The
// retry holds only the widget, which takes its tick callbacks with it when it goes, and a count of
// frames after which a widget never laid out is given up.
constexpr int SCROLL_RETRY_FRAMES = 60;

gboolean scroll_when_laid_out(GtkWidget *ref, GdkFrameClock *, gpointer frames_left)
{
    int &left = *static_cast<int *>(frames_left);
    return scroll_into_sight(ref) || --left <= 0 ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

// Brings ref into sight now, or once it is laid out.
void scroll_soon(GtkWidget *ref)
{
    if (!scroll_into_sight(ref))
        gtk_widget_add_tick_callback(ref, scroll_when_laid_out, new int(SCROLL_RETRY_FRAMES),
                                     [](gpointer left) { delete static_cast<int *>(left); });
}

// The content's height is known only once every view has laid its text out, frames after a
// rebuild or the window's opening; a scroll made before is cut short at the height then. The
// widget last brought into sight is brought in again whenever the height changes. The adjustment
// changes while the viewport is allocated, before the views in it: the widget's place is taken
// at the next frame.
constexpr char SIGHT_KEY[] = "note-sight";

void sight_again(GtkAdjustment *, gpointer scroller)
{
    auto *sight = static_cast<GWeakRef *>(g_object_get_data(G_OBJECT(scroller), SIGHT_KEY));
    auto *ref = sight ? static_cast<GtkWidget *>(g_weak_ref_get(sight)) : nullptr;
    if (!ref) return;
    gtk_widget_add_tick_callback(ref, scroll_when_laid_out, new int(SCROLL_RETRY_FRAMES),
                                 [](gpointer left) { delete static_cast<int *>(left); });
    g_object_unref(ref);
}

void free_sight(gpointer sight)
{
    g_weak_ref_clear(static_cast<GWeakRef *>(sight));
    delete static_cast<GWeakRef *>(sight);
}

void keep_in_sight(GtkWidget *scroller, GtkWidget *ref)
{
    auto *sight = static_cast<GWeakRef *>(g_object_get_data(G_OBJECT(scroller), SIGHT_KEY));
    if (!sight) {
        sight = new GWeakRef;
        g_weak_ref_init(sight, nullptr);
        g_object_set_data_full(G_OBJECT(scroller), SIGHT_KEY, sight, free_sight);
        g_signal_connect_object(gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroller)), "changed",
                                G_CALLBACK(sight_again), scroller, GConnectFlags(0));
    }
    g_weak_ref_set(sight, ref);
}

} // namespace

// ---- Marks and names ---------------------------------------------------------------------------------

void gnote_display_clear_release(NoteData_t *n)
{
    for (NoteElement_t *e = n->note; e; e = e->next) {
        e->selected = 0;
        clear_marks(e);
        switch (e->type) {
        case CM_GNOTE_NOTE_TYPE_P:
            if (e->p.view) gtk_widget_set_name(e->p.view, "ParNoteEdit");
            break;
        case CM_GNOTE_NOTE_TYPE_HIDE:
            // A hidden paragraph not shown has no view to name.
            if (e->p.view) gtk_widget_set_name(e->p.view, "HideNoteEditHide");
            break;
        case CM_GNOTE_NOTE_TYPE_AM:
            if (e->am.input) gtk_widget_set_name(e->am.input, "AmtNoteEdit");
            break;
        case CM_GNOTE_NOTE_TYPE_TAG: break;
        default: Abort("Unexpected note type");
        }
    }
}

NoteSelectClock gnote_set_select_clock(NoteSelectClock clock)
{
    const NoteSelectClock before = select_clock;
    select_clock = clock ? clock : monotonic_clock;
    return before;
}

// ---- Paragraph views ---------------------------------------------------------------------------------

namespace {

void gnote_textview_button_press_event(GtkGestureClick *gesture, int, double, double, gpointer element)
{
    forms_callback([&] {
        if (gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture)) != GDK_BUTTON_PRIMARY) return;
        auto *els = static_cast<NoteElement_t *>(element);
        PROGRAM_ASSERT(els->type == CM_GNOTE_NOTE_TYPE_P || els->type == CM_GNOTE_NOTE_TYPE_HIDE);
        gnote_display_clear_release(els->note_data);
        els->press_mark = 1;
        // A selection left in the view would stay beside the block the drag selects.
        if (gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture)) == els->p.view)
            cursor_to_buffer_end(els->p.buffer);
    });
    // The view's own click handling follows and puts the cursor where the user clicked.
    oska_on_button_propagate(GTK_GESTURE(gesture), 0);
}

void gnote_textview_button_release_event(GtkGestureClick *gesture, int, double x, double y, gpointer element)
{
    forms_callback([&] {
        if (gtk_gesture_single_get_current_button(GTK_GESTURE_SINGLE(gesture)) != GDK_BUTTON_PRIMARY) return;
        NoteData_t *n = static_cast<NoteElement_t *>(element)->note_data;
        NoteElement_t *pressed = n->note;
        while (pressed && !pressed->press_mark) pressed = pressed->next;
        if (!pressed) {
            gnote_display_clear_release(n);
            return;
        }
        pressed->release_mark = 1;
        stamp(pressed);
        // GTK delivers the pointer's entering another view while the button is still down, before
        // this release: the view it was released over is entered now, so that the drag selects.
        GtkWidget *from = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(gesture));
        if (NoteElement_t *over = paragraph_under(n, from, x, y); over && over != pressed)
            drag_enter(over, over->p.view);
    });
    oska_on_button_propagate(GTK_GESTURE(gesture), 0);
}

void gnote_textview_enter_notify_event(GtkEventControllerMotion *controller, double, double, gpointer element)
{
    forms_callback([&] {
        drag_enter(static_cast<NoteElement_t *>(element),
                   gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller)));
    });
}

void gnote_textview_focus_out_event(GtkEventControllerFocus *controller, gpointer element)
{
    forms_callback([&] {
        auto *els = static_cast<NoteElement_t *>(element);
        PROGRAM_ASSERT(els->type == CM_GNOTE_NOTE_TYPE_P || els->type == CM_GNOTE_NOTE_TYPE_HIDE);
        GtkWidget *view = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
        if (view == els->p.view) els->note_data->focus_widget = view;
    });
}

void gnote_textview_focus_in_event(GtkEventControllerFocus *controller, gpointer element)
{
    forms_callback([&] {
        auto *e = static_cast<NoteElement_t *>(element);
        NoteData_t *n = e->note_data;
        GtkWidget *view = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
        // The paragraph left behind drops its selection: only one view shows selected text.
        if (n->focus_widget && n->focus_widget != view) {
            if (NoteElement_t *left = paragraph_of_view(n, n->focus_widget)) {
                cursor_to_buffer_end(left->p.buffer);
                n->focus_widget = view;
            }
        }
        for (NoteElement_t *o = n->note; o; o = o->next) o->focus = 0;
        e->focus = 1;
        gnote_do_scrolling(e, view);
    });
}

// ---- Amount inputs -----------------------------------------------------------------------------------

void gnote_input_enter_notify_event(GtkEventControllerMotion *, double, double, gpointer element)
{
    forms_callback([&] {
        auto *am = static_cast<NoteElement_t *>(element);
        NoteData_t *n = am->note_data;
        // The block runs from the first element pressed or entered to the next such element (or to
        // the end); pressed on the amount's own paragraph, there is none.
        enum { before, open, closed } state = before;
        NoteElement_t *last = nullptr;
        for (NoteElement_t *e = n->note; e; e = e->next) {
            const bool bound = e->press_mark || e == am;
            e->selected = 0;
            if (state == before && bound) {
                const bool own_paragraph = e->type == CM_GNOTE_NOTE_TYPE_P && e->next == am;
                state = own_paragraph ? closed : open;
                e->selected = !own_paragraph;
                last = own_paragraph ? nullptr : e;
            } else if (state == open) {
                e->selected = 1;
                last = e;
                if (bound) state = closed;
            }
            clear_marks(e);
        }
        for (NoteElement_t *e = n->note; e; e = e->next) {
            switch (e->type) {
            case CM_GNOTE_NOTE_TYPE_P:
            case CM_GNOTE_NOTE_TYPE_HIDE:
            case CM_GNOTE_NOTE_TYPE_TAG: break;
            case CM_GNOTE_NOTE_TYPE_AM:
                // An amount goes with the paragraph it follows.
                if (e->selected && e->prior) {
                    e->prior->selected = 1;
                    name_selected(e->prior);
                }
                break;
            default: Abort("Unexpected note type @ %s", "gnote_input_enter_notify_event");
            }
            if (e->selected) name_selected(e);
        }
        // The cursor goes to the block's last element, as after a drag between paragraph views.
        if (!last) return;
        if (is_view_paragraph(last) && last->p.view) {
            cursor_to_buffer_end(last->p.buffer);
        } else if (last->type == CM_GNOTE_NOTE_TYPE_AM) {
            gnote_remove_commas(last);
            gtk_editable_set_position(GTK_EDITABLE(last->am.input), -1);
        }
    });
}

void gnote_input_focus_in_event(GtkEventControllerFocus *controller, gpointer element)
{
    forms_callback([&] {
        auto *am = static_cast<NoteElement_t *>(element);
        NoteData_t *n = am->note_data;
        NoteElement_t *before = am->prior;
        if (before && is_view_paragraph(before) && before->p.view && n->focus_widget) {
            if (NoteElement_t *left = paragraph_of_view(n, n->focus_widget)) {
                cursor_to_buffer_end(left->p.buffer);
                n->focus_widget = before->p.view;
            }
        }
        for (NoteElement_t *o = n->note; o; o = o->next) o->focus = 0;
        am->focus = 1;
        gnote_remove_commas(am);
        gnote_do_scrolling(am, gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller)));
    });
}

void gnote_input_focus_out_event(GtkEventControllerFocus *controller, gpointer element)
{
    forms_callback([&] {
        auto *am = static_cast<NoteElement_t *>(element);
        PROGRAM_ASSERT(am->type == CM_GNOTE_NOTE_TYPE_AM);
        if (gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller)) == am->am.input) take_amount(am);
    });
}

} // namespace

void gnote_edit_views_install(GtkWidget *widget, NoteElement_t *e)
{
    if (e->type == CM_GNOTE_NOTE_TYPE_AM) {
        GtkEventController *focus = gtk_event_controller_focus_new();
        g_signal_connect(focus, "enter", G_CALLBACK(gnote_input_focus_in_event), e);
        g_signal_connect(focus, "leave", G_CALLBACK(gnote_input_focus_out_event), e);
        e->am.focus_controller = gnote_edit_add_controller(focus, "gnote-view-amount-focus", widget);
        GtkEventController *motion = gtk_event_controller_motion_new();
        g_signal_connect(motion, "enter", G_CALLBACK(gnote_input_enter_notify_event), e);
        e->am.motion_controller = gnote_edit_add_controller(motion, "gnote-view-amount-motion", widget);
        return;
    }
    GtkGesture *click = gtk_gesture_click_new();
    gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);
    gtk_gesture_single_set_exclusive(GTK_GESTURE_SINGLE(click), TRUE);
    g_signal_connect(click, "pressed", G_CALLBACK(gnote_textview_button_press_event), e);
    g_signal_connect(click, "released", G_CALLBACK(gnote_textview_button_release_event), e);
    e->p.click_controller =
        gnote_edit_add_controller(GTK_EVENT_CONTROLLER(click), "gnote-view_paragraph-button", widget);
    GtkEventController *focus = gtk_event_controller_focus_new();
    g_signal_connect(focus, "leave", G_CALLBACK(gnote_textview_focus_out_event), e);
    g_signal_connect(focus, "enter", G_CALLBACK(gnote_textview_focus_in_event), e);
    e->p.focus_controller = gnote_edit_add_controller(focus, "gnote-view-paragraph-focus", widget);
    GtkEventController *motion = gtk_event_controller_motion_new();
    g_signal_connect(motion, "enter", G_CALLBACK(gnote_textview_enter_notify_event), e);
    e->p.motion_controller = gnote_edit_add_controller(motion, "gnote-view-paragraph-motion", widget);
}

void gnote_take_edited_amount(NoteData_t *n)
{
    for (NoteElement_t *e = n->note; e; e = e->next) {
        if (e->type != CM_GNOTE_NOTE_TYPE_AM || !e->am.input) continue;
        GtkRoot *root = gtk_widget_get_root(e->am.input);
        GtkWidget *focus = root ? gtk_root_get_focus(root) : nullptr;
        if (!focus || (focus != e->am.input && !gtk_widget_is_ancestor(focus, e->am.input))) continue;
        // The window going inactive (another window over it) took the amount already and showed
        // it formatted, its commas included, while the input kept the window's focus: taken again
        // that text would be no number.
        char *shown = gnote_format_amount(&e->am.value);
        const bool taken = std::strcmp(shown, gtk_editable_get_text(GTK_EDITABLE(e->am.input))) == 0;
        sfree(shown);
        if (!taken) take_amount(e);
        return;
    }
}

// ---- Amounts -----------------------------------------------------------------------------------------

void gnote_remove_commas(NoteElement_t *am)
{
    const std::string plain = ginput_remove_commas(gtk_editable_get_text(GTK_EDITABLE(am->am.input)));
    set_amount_text(am, plain.c_str());
}

void gnote_set_total_amount(NoteData_t *n)
{
    dec_t sum;
    NumericCvINT(0, &sum);
    for (const NoteElement_t *e = n->note; e; e = e->next)
        if (e->type == CM_GNOTE_NOTE_TYPE_AM) NumericAdd(&sum, &e->am.value, &sum);
    if (NumericCmp(&sum, &n->total) != 0) n->modified = 1;
    n->total = sum;
    GtkWidget *box = n->total_label ? gtk_widget_get_parent(n->total_label) : nullptr;
    if (!box) return;
    gtk_box_remove(GTK_BOX(box), n->total_label);
    char *text = gnote_format_amount(&sum);
    n->total_label = gtk_label_new(text);
    sfree(text);
    gtk_widget_set_name(n->total_label, "l3NoteEdit");
    oska_box_append_end(box, n->total_label, 1, 0, TOTAL_MARGIN);
    gtk_widget_set_visible(n->total_label, TRUE);
}

// ---- Scrolling ---------------------------------------------------------------------------------------

void gnote_do_scrolling(NoteElement_t *e, GtkWidget *widget)
{
    GtkWidget *ref = widget;
    if (e->type == CM_GNOTE_NOTE_TYPE_AM) {
        // An amount is seen with the paragraph it belongs to, and then itself: the clerk sees the
        // amount typed.
        const NoteElement_t *p = e->prior;
        while (p && p->type != CM_GNOTE_NOTE_TYPE_P) p = p->prior;
        if (!p) Abort("Failed to find paragraph preceeding Amount field");
        if (p->p.view && e->note_data->edit_scroller) scroll_soon(p->p.view);
    }
    if (!ref || !e->note_data->edit_scroller) return;
    keep_in_sight(e->note_data->edit_scroller, ref);
    scroll_soon(ref);
}

void gnote_do_scrolling(NoteElement_t *e) { gnote_do_scrolling(e, gnote_element_widget(e)); }
