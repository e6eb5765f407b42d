// The keys of the note edit window's paragraph views and amount inputs: save and cancel keys,
// arrows walking from one element into the next, Return splitting and BackSpace joining
// paragraphs, typed characters taking the format before them, and the amount inputs' filter.
// gnote_edit_keys_install puts the key controller on a view or input, and
// gnote_edit_keys_install_window the window's own, for the keys before it is active.
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "ccallback.h"
#include "cevents.h"
#include "ckeys.h"
#include "cmatrix.h"
#include "cutil.h"
#include "gdata.h"
#include "gnote_edit_parts.h"
#include "mem_mgt.h"
#include "message.h"

namespace {

// A key on a view says where the user is: its element is the current one.
void take_current(NoteElement_t *e)
{
    for (NoteElement_t *o = e->note_data->note; o; o = o->next) o->focus = 0;
    e->focus = 1;
}

// The current paragraph: the current element, or the one before a current amount.
NoteElement_t *current_paragraph(NoteData_t *n)
{
    NoteElement_t *note = gnote_get_current_focus(n);
    if (note->type == CM_GNOTE_NOTE_TYPE_AM) note = note->prior;
    PROGRAM_ASSERT(note && (note->type == CM_GNOTE_NOTE_TYPE_P || note->type == CM_GNOTE_NOTE_TYPE_HIDE));
    return note;
}

char *join_texts(const char *a, const char *b)
{
    const std::size_t la = a ? std::strlen(a) : 0, lb = b ? std::strlen(b) : 0;
    auto *t = static_cast<char *>(salloc(la + lb + 1));
    if (la) std::memcpy(t, a, la);
    if (lb) std::memcpy(t + la, b, lb);
    t[la + lb] = '\0';
    return t;
}

GtkTextIter cursor(GtkTextBuffer *buffer)
{
    GtkTextIter it;
    gtk_text_buffer_get_iter_at_mark(buffer, &it, gtk_text_buffer_get_insert(buffer));
    return it;
}

// Puts the cursor at the start of a paragraph (or into an amount) and gives it the focus.
void enter_at_start(NoteElement_t *t)
{
    if (t->type == CM_GNOTE_NOTE_TYPE_AM) {
        gtk_widget_grab_focus(t->am.input);
        return;
    }
    if (!t->p.view) return;
    GtkTextIter start;
    gtk_text_buffer_get_start_iter(t->p.buffer, &start);
    gtk_text_buffer_place_cursor(t->p.buffer, &start);
    gtk_widget_grab_focus(t->p.view);
}

// The element an arrow walks into from e: the first non-tag in the direction, else (only tags
// that way) the first non-tag walking back from the last of them.
NoteElement_t *walk(NoteElement_t *e, bool forward)
{
    NoteElement_t *t = forward ? e->next : e->prior, *end = t;
    while (t && t->type == CM_GNOTE_NOTE_TYPE_TAG) {
        end = t;
        t = forward ? t->next : t->prior;
    }
    if (t) return t;
    t = end;
    while (t && t->type == CM_GNOTE_NOTE_TYPE_TAG) t = forward ? t->prior : t->next;
    return t;
}

bool forward_move(NoteElement_t *e)
{
    GtkTextBuffer *b = e->p.buffer;
    GtkTextIter it = cursor(b);
    if (gtk_text_buffer_get_has_selection(b) || !gtk_text_iter_is_end(&it)) return false;
    if (!e->next) return true;
    if (NoteElement_t *t = walk(e, true)) enter_at_start(t);
    return true;
}

bool backward_move(NoteElement_t *e)
{
    GtkTextBuffer *b = e->p.buffer;
    GtkTextIter it = cursor(b);
    if (gtk_text_buffer_get_has_selection(b) || !gtk_text_iter_is_start(&it)) return false;
    if (!e->prior) return true;
    NoteElement_t *t = walk(e, false);
    if (!t) return true;
    if (t->type == CM_GNOTE_NOTE_TYPE_AM)
        gtk_widget_grab_focus(t->am.input);
    else if (t->p.view)
        gtk_widget_grab_focus(t->p.view);
    return true;
}

// Moves count positions of one array pair: entries kept stay in first, the others go to second
// shifted by position. For runs, one spanning position is cut in two.
void split_runs(std::int32_t *&start, std::int32_t *&end, std::int32_t &count, std::int32_t *&start2,
                std::int32_t *&end2, std::int32_t &count2, int position)
{
    if (count <= 0) return;
    sfree(start2);
    sfree(end2);
    start2 = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t) * count));
    end2 = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t) * count));
    int kept = 0, moved = 0;
    for (int i = 0; i < count; ++i) {
        const std::int32_t s = start[i], e = end[i];
        if (s < position && e > position) {
            start[kept] = s, end[kept++] = position;
            start2[moved] = 0, end2[moved++] = e - position;
        } else if (s < position) {
            start[kept] = s, end[kept++] = e;
        } else {
            start2[moved] = s - position, end2[moved++] = e - position;
        }
    }
    count = kept;
    count2 = moved;
}

void split_extra(std::int32_t *&extra, std::int32_t &count, std::int32_t *&extra2, std::int32_t &count2, int position)
{
    if (count <= 0) return;
    sfree(extra2);
    extra2 = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t) * count));
    int kept = 0, moved = 0;
    for (int i = 0; i < count; ++i) {
        if (extra[i] >= position)
            extra2[moved++] = extra[i] - position;
        else
            extra[kept++] = extra[i];
    }
    count = kept;
    count2 = moved;
}

// Appends count2 entries of a2 to a (count entries), each plus offset.
void append_positions(std::int32_t *&a, std::int32_t count, const std::int32_t *a2, std::int32_t count2, int offset)
{
    auto *grown = static_cast<std::int32_t *>(salloc(sizeof(std::int32_t) * (count + count2)));
    if (count) std::memcpy(grown, a, sizeof(std::int32_t) * count);
    for (int i = 0; i < count2; ++i) grown[count + i] = a2[i] + offset;
    sfree(a);
    a = grown;
}

// Runs and extra positions at or after byte position move from first to second (shifted).
void gnote_split_paragraph_format(NoteElement_t *note, NoteElement_t *second, int position)
{
    if (!(note->type == CM_GNOTE_NOTE_TYPE_P || note->type == CM_GNOTE_NOTE_TYPE_HIDE))
        assertion_failed(__FILE__, __LINE__,
                         "note->type == CM_GNOTE_NOTE_TYPE_P || note->type == CM_GNOTE_NOTE_TYPE_HIDE");
    if (!(second->type == CM_GNOTE_NOTE_TYPE_P || second->type == CM_GNOTE_NOTE_TYPE_HIDE))
        assertion_failed(__FILE__, __LINE__,
                         "new->type == CM_GNOTE_NOTE_TYPE_P || new->type == CM_GNOTE_NOTE_TYPE_HIDE");
    NoteParagraph_t &a = note->p, &b = second->p;
    split_runs(a.bold_start, a.bold_end, a.bold_count, b.bold_start, b.bold_end, b.bold_count, position);
    split_runs(a.italic_start, a.italic_end, a.italic_count, b.italic_start, b.italic_end, b.italic_count, position);
    split_runs(a.underline_start, a.underline_end, a.underline_count, b.underline_start, b.underline_end,
               b.underline_count, position);
    split_extra(a.extra1, a.extra1_count, b.extra1, b.extra1_count, position);
    split_extra(a.extra2, a.extra2_count, b.extra2, b.extra2_count, position);
}

// The runs and extra positions of second join first's, shifted by the byte offset.
void gnote_append_paragraph_format(NoteElement_t *first, NoteElement_t *second, int offset)
{
    NoteParagraph_t &a = first->p;
    const NoteParagraph_t &b = second->p;
    const auto runs = [offset](std::int32_t *&s, std::int32_t *&e, std::int32_t &count, const std::int32_t *s2,
                               const std::int32_t *e2, std::int32_t count2) {
        if (count2 <= 0) return;
        append_positions(s, count, s2, count2, offset);
        append_positions(e, count, e2, count2, offset);
        count += count2;
    };
    runs(a.bold_start, a.bold_end, a.bold_count, b.bold_start, b.bold_end, b.bold_count);
    runs(a.italic_start, a.italic_end, a.italic_count, b.italic_start, b.italic_end, b.italic_count);
    runs(a.underline_start, a.underline_end, a.underline_count, b.underline_start, b.underline_end, b.underline_count);
    for (auto [x, count, x2, count2] : {std::tuple{&a.extra1, &a.extra1_count, b.extra1, b.extra1_count},
                                        std::tuple{&a.extra2, &a.extra2_count, b.extra2, b.extra2_count}}) {
        if (count2 <= 0) continue;
        append_positions(*x, *count, x2, count2, offset);
        *count += count2;
    }
}

// Each flag 1 when the character before iter carries that format.
void gnote_paragraph_get_format_at_cursor(const GtkTextIter *iter, int *bold, int *italic, int *underline)
{
    *bold = *italic = *underline = 0;
    if (gtk_text_iter_is_start(iter)) return;
    GtkTextIter before = *iter;
    gtk_text_iter_backward_char(&before);
    GSList *tags = gtk_text_iter_get_tags(&before);
    for (GSList *l = tags; l; l = l->next) {
        char *name = nullptr;
        g_object_get(l->data, "name", &name, nullptr);
        const char first = name ? name[0] : '\0';
        if (first == 'b')
            *bold = 1;
        else if (first == 'i')
            *italic = 1;
        else if (first == 'u')
            *underline = 1;
        else {
            const std::string copy = name ? name : "";
            g_free(name);
            g_slist_free(tags);
            Abort("Unexpected paragraph format tag encountered %s", copy.c_str());
        }
        g_free(name);
    }
    g_slist_free(tags);
}

// Return: a line feed with Shift, else the paragraph splits at the cursor.
void split(NoteData_t *n, NoteElement_t *e, GdkModifierType state, guint keyval)
{
    const TryLock lock(&n->lock);
    if (!lock.taken() || gnote_edit_refused(n, state, keyval)) return;
    GtkTextBuffer *b = e->p.buffer;
    if (state & GDK_SHIFT_MASK) {
        gtk_text_buffer_delete_selection(b, TRUE, TRUE);
        gtk_text_buffer_insert_interactive_at_cursor(b, "\n", 1, TRUE);
        return;
    }
    const GtkTextIter at = cursor(b);
    const int chars = gtk_text_iter_get_offset(&at);
    // Only the paragraph split and the new one change: the other views stay as they are.
    NoteElement_t *current = current_paragraph(n);
    gnote_take_paragraph(current);
    const char *text = current->p.text ? current->p.text : "";
    const int byte = gnote_char_to_byte(text, chars);
    NoteElement_t *second = gmenu_parse_xml_add_tag(n, "p");
    second->p.text = join_texts(text + byte, nullptr);
    note_link_after(current, second);
    current->focus = 0;
    second->focus = 1;
    auto *first = static_cast<char *>(salloc(byte + 1));
    std::memcpy(first, text, byte);
    first[byte] = '\0';
    sfree(current->p.text);
    current->p.text = first;
    gnote_split_paragraph_format(current, second, byte);
    gnote_view_refill_paragraph(current);
    gnote_view_insert_paragraph_after(n, current, second);
    gnote_focus_element(n, second, 0, 0);
}

// BackSpace: a selection goes; at the start of a paragraph after a paragraph the two join.
void backspace(NoteData_t *n, NoteElement_t *e, GdkModifierType state, guint keyval)
{
    const TryLock lock(&n->lock);
    if (!lock.taken() || gnote_edit_refused(n, state, keyval)) return;
    GtkTextBuffer *b = e->p.buffer;
    if (gtk_text_buffer_get_has_selection(b)) {
        gtk_text_buffer_delete_selection(b, TRUE, TRUE);
        return;
    }
    GtkTextIter at = cursor(b);
    const bool empty = gtk_text_buffer_get_char_count(b) == 0;
    const bool joins = e->prior && e->prior->type == CM_GNOTE_NOTE_TYPE_P && (empty || gtk_text_iter_is_start(&at));
    if (!joins) {
        gtk_text_buffer_backspace(b, &at, TRUE, TRUE);
        return;
    }
    // Only the two paragraphs joined change: the other views stay as they are.
    NoteElement_t *current = current_paragraph(n);
    NoteElement_t *before = current->prior;
    gnote_take_paragraph(current);
    gnote_take_paragraph(before);
    note_unlink(&n->note, current);
    gnote_remove_sigs(current);
    gnote_view_remove_paragraph(n, current);
    current->focus = 0;
    before->focus = 1;
    if (empty) {
        gnote_free_xml_p(&current);
        gnote_focus_element(n, before, -1, -1);
        return;
    }
    const int bytes = before->p.text ? static_cast<int>(std::strlen(before->p.text)) : 0;
    const int chars = gnote_byte_to_char(before->p.text, bytes);
    char *joined = join_texts(before->p.text, current->p.text);
    sfree(before->p.text);
    before->p.text = joined;
    gnote_append_paragraph_format(before, current, bytes);
    gnote_free_xml_p(&current);
    gnote_view_refill_paragraph(before);
    gnote_focus_element(n, before, chars, chars);
}

// Delete: a selection or the character after the cursor; at the very end nothing is deleted.
void delete_forward(NoteData_t *n, NoteElement_t *e, GdkModifierType state, guint keyval)
{
    if (gnote_edit_refused(n, state, keyval)) return;
    GtkTextBuffer *b = e->p.buffer;
    if (gtk_text_buffer_get_has_selection(b)) {
        gtk_text_buffer_delete_selection(b, TRUE, TRUE);
        return;
    }
    GtkTextIter from = cursor(b), to = from;
    if (!gtk_text_iter_forward_char(&to) && gtk_text_iter_equal(&from, &to)) return;
    gtk_text_buffer_delete_interactive(b, &from, &to, TRUE);
}

// A typed character takes the bold, italic and underline of the character before it.
void type_character(NoteElement_t *e, int c)
{
    NoteElement_t *note = e;
    if (!note->p.view) assertion_failed(__FILE__, __LINE__, "note->view");
    GtkTextBuffer *b = note->p.buffer;
    gtk_text_buffer_delete_selection(b, TRUE, TRUE);
    GtkTextIter at = cursor(b);
    int bold = 0, italic = 0, underline = 0;
    gnote_paragraph_get_format_at_cursor(&at, &bold, &italic, &underline);
    const char one[2] = {static_cast<char>(c), '\0'};
    if (gtk_text_buffer_insert_interactive(b, &at, one, 1, TRUE)) {
        GtkTextIter start = at;
        gtk_text_iter_backward_char(&start);
        for (const auto &[on, tag] : {std::pair{bold, note->p.bold_tag}, std::pair{italic, note->p.italic_tag},
                                      std::pair{underline, note->p.underline_tag}})
            if (on) gtk_text_buffer_apply_tag(b, tag, &start, &at);
    }
    gnote_do_scrolling(note);
}

bool paragraph_key(GtkEventControllerKey *controller, guint keyval, GdkModifierType state, NoteElement_t *e)
{
    NoteData_t *n = e->note_data;
    GtkWidget *view = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
    take_current(e);
    switch (keyval) {
    case GDK_KEY_F1: on_key_press_fn(view, keyval, global_data); return true;
    case GDK_KEY_Escape:
    case GDK_KEY_F8:
        gnote_edit_button_press_cancel(view, keyval, n);
        ccallbacks_finish_event(1, 0);
        return true;
    case GDK_KEY_F12:
        gnote_edit_button_press_save(view, keyval, n);
        ccallbacks_finish_event(1, 1);
        return true;
    case GDK_KEY_Right:
    case GDK_KEY_Down:
    case GDK_KEY_KP_Right:
    case GDK_KEY_KP_Down: return forward_move(e);
    case GDK_KEY_Left:
    case GDK_KEY_Up:
    case GDK_KEY_KP_Left:
    case GDK_KEY_KP_Up: return backward_move(e);
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter: split(n, e, state, keyval); return true;
    case GDK_KEY_BackSpace: backspace(n, e, state, keyval); return true;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete: delete_forward(n, e, state, keyval); return true;
    default: break;
    }
    const int c = cutil_conv_eventkey_to_char(keyval, state);
    if (c == '\n') {
        gnote_do_scrolling(e);
        return false;
    }
    if (gnote_edit_refused(n, state, keyval)) {
        gnote_do_scrolling(e);
        return true;
    }
    type_character(e, c);
    return true;
}

// The first paragraph (type 1) from e in the direction, else from the other end of the list.
NoteElement_t *find_paragraph(NoteElement_t *e, bool forward, char which)
{
    for (NoteElement_t *t = forward ? e->next : e->prior; t; t = forward ? t->next : t->prior)
        if (t->type == CM_GNOTE_NOTE_TYPE_P) return t;
    NoteElement_t *t = e;
    if (forward) {
        while (t->next) t = t->next;
        for (; t; t = t->prior)
            if (t->type == CM_GNOTE_NOTE_TYPE_P) return t;
    } else {
        while (t->prior) t = t->prior;
        for (; t; t = t->next)
            if (t->type == CM_GNOTE_NOTE_TYPE_P) return t;
    }
    Abort("Failed to find a paragraph in the Note (%c)", which);
}

bool amount_key(GtkEventControllerKey *controller, guint keyval, GdkModifierType state, NoteElement_t *e, int *saved)
{
    NoteData_t *n = e->note_data;
    GtkWidget *input = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
    GtkEditable *editable = GTK_EDITABLE(input);
    take_current(e);
    int from = 0, to = 0;
    const bool selected = gtk_editable_get_selection_bounds(editable, &from, &to);
    const int position = gtk_editable_get_position(editable);
    const int length = static_cast<int>(g_utf8_strlen(gtk_editable_get_text(editable), -1));
    switch (keyval) {
    case GDK_KEY_F1: on_key_press_fn(input, keyval, global_data); return true;
    case GDK_KEY_Escape:
    case GDK_KEY_F8: gnote_edit_button_press_cancel(input, keyval, n); return true;
    case GDK_KEY_F12:
        *saved = 1;
        gnote_edit_button_press_save(input, keyval, n);
        return true;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
        if (selected) {
            gtk_editable_set_position(editable, to);
            return true;
        }
        if (position != length || !e->next) return false;
        enter_at_start(find_paragraph(e, true, 'a'));
        return true;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        if (!e->next) return false;
        if (selected) gtk_editable_set_position(editable, -1);
        enter_at_start(find_paragraph(e, true, 'b'));
        return true;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
        if (selected) {
            gtk_editable_set_position(editable, from);
            return true;
        }
        if (position > 0 || !e->prior) return false;
        gtk_widget_grab_focus(find_paragraph(e, false, 'c')->p.view);
        return true;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
        if (!e->prior) return false;
        if (selected) gtk_editable_set_position(editable, 0);
        gtk_widget_grab_focus(find_paragraph(e, false, 'd')->p.view);
        return true;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
        if (selected) gtk_editable_set_position(editable, 0);
        return false;
    default: break;
    }
    const int c = cutil_conv_eventkey_to_char(keyval, state);
    if (c == '\n') return false;
    if (!g_ascii_isdigit(c) && c != '-' && c != '.') return true;
    if (gnote_edit_refused(n, state, keyval)) return true;
    NoteElement_t *am = gnote_get_current_focus(n);
    if (am->type == CM_GNOTE_NOTE_TYPE_P) am = am->next;
    PROGRAM_ASSERT((am) && (am->type == CM_GNOTE_NOTE_TYPE_AM));
    GtkEditable *target = GTK_EDITABLE(am->am.input);
    gtk_editable_delete_selection(target);
    int at = gtk_editable_get_position(target);
    const char one[2] = {static_cast<char>(c), '\0'};
    gtk_editable_insert_text(target, one, 1, &at);
    gtk_editable_set_position(target, at);
    return true;
}

gboolean gnote_edit_key_press_event(GtkEventControllerKey *controller, guint keyval, guint, GdkModifierType state,
                                    gpointer element)
{
    bool handled = false;
    forms_callback([&] { handled = paragraph_key(controller, keyval, state, static_cast<NoteElement_t *>(element)); });
    return handled;
}

gboolean gnote_edit_am_key_press_event(GtkEventControllerKey *controller, guint keyval, guint, GdkModifierType state,
                                       gpointer element)
{
    bool handled = false;
    forms_callback([&] {
        auto *e = static_cast<NoteElement_t *>(element);
        ControlMatrix_t *form = e->note_data->cm;
        ccursor_set_busy(form, static_cast<int>(keyval));
        int saved = 0;
        handled = amount_key(controller, keyval, state, e, &saved);
        ccallbacks_finish_event(1, saved);
    });
    return handled;
}

bool is_paragraph(const NoteElement_t *e)
{
    return e->type == CM_GNOTE_NOTE_TYPE_P || e->type == CM_GNOTE_NOTE_TYPE_HIDE;
}

// The X server hands the keyboard to a window that has just opened before GTK counts the window
// active, and until then GTK gives its keys to no widget: a fast typist's first keys there would be
// lost. They go to the view or input with the window's focus, as its own key handler takes them.
gboolean key_before_active(GtkEventControllerKey *controller, guint keyval, guint keycode, GdkModifierType state,
                           gpointer note)
{
    auto *window = GTK_WINDOW(gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller)));
    if (gtk_window_is_active(window)) return FALSE;
    GtkWidget *focus = gtk_root_get_focus(GTK_ROOT(window));
    if (!focus) return FALSE;
    for (NoteElement_t *e = static_cast<NoteData_t *>(note)->note; e; e = e->next) {
        GtkWidget *own = gnote_element_widget(e);
        if (!own || (focus != own && !gtk_widget_is_ancestor(focus, own))) continue;
        if (is_paragraph(e) && e->p.key_controller)
            return gnote_edit_key_press_event(GTK_EVENT_CONTROLLER_KEY(e->p.key_controller), keyval, keycode, state, e);
        if (e->type == CM_GNOTE_NOTE_TYPE_AM && e->am.key_controller)
            return gnote_edit_am_key_press_event(GTK_EVENT_CONTROLLER_KEY(e->am.key_controller), keyval, keycode,
                                                 state, e);
        return FALSE;
    }
    return FALSE;
}

// A key controller in the capture phase: the handler decides before the widget's own bindings.
GtkEventController *capture_keys(GtkWidget *widget, const char *name, GCallback handler, gpointer data)
{
    GtkEventController *c = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(c, GTK_PHASE_CAPTURE);
    g_signal_connect(c, "key-pressed", handler, data);
    return gnote_edit_add_controller(c, name, widget);
}

} // namespace

void gnote_edit_keys_install(GtkWidget *widget, NoteElement_t *e)
{
    if (e->type == CM_GNOTE_NOTE_TYPE_AM)
        e->am.key_controller = capture_keys(widget, "gnote-view-amount", G_CALLBACK(gnote_edit_am_key_press_event), e);
    else
        e->p.key_controller = capture_keys(widget, "gnote-view-paragraph", G_CALLBACK(gnote_edit_key_press_event), e);
}

void gnote_edit_keys_install_window(GtkWidget *window, NoteData_t *note)
{
    capture_keys(window, "gnote-window-early-keys", G_CALLBACK(key_before_active), note);
}
