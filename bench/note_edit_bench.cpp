// The note edit window on notes of 10 to 30,000 paragraphs of about 70 characters (with a bold
// run, an amount after every tenth) and on one paragraph of 100 KB or 1 MB: its opening, a typed
// character and a Return in the middle paragraph, each to the first frame painted after it, and
// the resident memory's peak over a case. Against one GtkTextView holding the same text taking a
// newline at the same place, drawn the same way, in the same run. GTK runs on a private X server;
// the "FKN" key set is the site's, so the program runs under the with_site runner.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <gtk/gtk.h>

#include "cmatrix.h"
#include "gnote_edit.h"
#include "gnote_field.h"
#include "gui_bench.h"
#include "mem_mgt.h"
#include "read_error.h"
#include "run_time.h"
#include "softkeys.h"

namespace {

constexpr char SHORT_TEXT[] = " holds <b>some bold words</b> and a line of plain text to wrap.";

// paragraphs of about 70 characters, or (bytes given) one paragraph of about that many bytes of
// words with a bold run near its start.
std::string note_text(int paragraphs, int bytes)
{
    std::string t = "<note ver=\"1\">";
    for (int i = 0; i < paragraphs; ++i) {
        t += "<p datatype=\"P\" position=\"0\"><![CDATA[Paragraph " + std::to_string(i);
        if (bytes > 0) {
            // bytes of text: the bold run's mark-up is not text.
            std::string body = " <b>bold words</b>";
            const std::size_t markup = std::strlen("<b></b>"), text = bytes - std::to_string(i).size() - std::strlen("Paragraph ");
            while (body.size() - markup < text) body += " words of a long paragraph";
            t += body.substr(0, text + markup);
        } else {
            t += SHORT_TEXT;
        }
        t += "]]></p>";
        if (i % 10 == 9)
            t += "<am required=\"true\" next=\"false\" protect=\"false\" orsec=\"0\" orsecvalue=\"0\">12.50</am>";
    }
    return t + "</note>";
}

void drain()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

// Runs the main loop until the window has painted a frame after now, then what is left pending.
void settle(GtkWidget *widget)
{
    GdkFrameClock *clock = gtk_widget_get_frame_clock(widget);
    if (!clock) {
        drain();
        return;
    }
    int painted = 0;
    const gulong id = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](int *p) { ++*p; }), &painted);
    gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_PAINT);
    while (!painted) g_main_context_iteration(nullptr, TRUE);
    g_signal_handler_disconnect(clock, id);
    drain();
}

// Resident memory's peak mark, reset to the current size by reset_peak.
long peak_kib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
    return -1;
}

void reset_peak()
{
    if (std::FILE *refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

// A form window with its matrix, and a note record over it as IGNOTE_NEW leaves one (no field
// widgets are needed for the window).
struct Form {
    GtkWidget *window = gtk_window_new();
    ControlMatrix_t *cm = cset_new(global_data, window, 0);
    NoteData_t *note = static_cast<NoteData_t *>(salloc(sizeof(NoteData_t)));
    Form(int paragraphs, int bytes)
    {
        cm->user_edit_watch = 0;  // no Edit_Content routine to ask
        gtk_window_set_default_size(GTK_WINDOW(window), 300, 200);
        gtk_window_present(GTK_WINDOW(window));
        note->field_type = CM_FIELD_TYPE_GNOTE;
        note->cm = cm;
        note->mode = GNOTE_MODE_EDIT;
        note->edit_width = 500;
        note->edit_height = 600;
        g_mutex_init(&note->lock);
        stop_on(gnote_parse_xml(note, note_text(paragraphs, bytes).c_str(), 1));
        drain();
    }
    void open()
    {
        gnote_edit_create(window, note);
        settle(note->edit_scroller);
    }
    void close()
    {
        if (GtkWidget *w = note->edit_scroller ? GTK_WIDGET(gtk_widget_get_root(note->edit_scroller)) : nullptr)
            gtk_window_destroy(GTK_WINDOW(w));
        drain();
    }
    ~Form()
    {
        close();
        gnote_free_xml(note);
        gnote_free_original_note(note);
        g_mutex_clear(&note->lock);
        sfree(note);
        cmat_free_window(window, "");
        gtk_window_destroy(GTK_WINDOW(window));
        drain();
    }
};

// The paragraph in the middle of the note.
NoteElement_t *middle(NoteData_t *n, int paragraphs)
{
    int k = 0;
    for (NoteElement_t *e = n->note; e; e = e->next)
        if (e->type == CM_GNOTE_NOTE_TYPE_P && k++ == paragraphs / 2) return e;
    return n->note;
}

// The cursor at character offset at of the middle paragraph (the middle of its text when negative).
NoteElement_t *cursor_in_middle(NoteData_t *n, int paragraphs, int at)
{
    NoteElement_t *e = middle(n, paragraphs);
    GtkTextIter it;
    if (at < 0) at = gtk_text_buffer_get_char_count(e->p.buffer) / 2;
    gtk_text_buffer_get_iter_at_offset(e->p.buffer, &it, at);
    gtk_text_buffer_place_cursor(e->p.buffer, &it);
    return e;
}

// A key as GTK hands it to the paragraph view's key controller.
void press(NoteElement_t *e, guint keyval)
{
    gboolean handled = FALSE;
    g_signal_emit_by_name(e->p.key_controller, "key-pressed", keyval, 0u, GdkModifierType(0), &handled);
}

// True (the case reported) when the window refuses the note.
bool refused(benchmark::State &state)
{
    const int bytes = static_cast<int>(state.range(1));
    if (bytes <= GNOTE_EDIT_PARAGRAPH_LIMIT) return false;
    state.SkipWithError("refused: a paragraph longer than the window's limit");
    return true;
}

void peak_counter(benchmark::State &state)
{
    state.counters["peak_MiB"] = static_cast<double>(peak_kib()) / 1024.0;
}

void BM_note_window_open(benchmark::State &state)
{
    if (refused(state)) return;
    const int paragraphs = static_cast<int>(state.range(0));
    reset_peak();
    Form form(paragraphs, static_cast<int>(state.range(1)));
    for (auto _ : state) {
        form.open();
        state.PauseTiming();
        form.close();
        state.ResumeTiming();
    }
    peak_counter(state);
}

// Every pass places the cursor in the middle paragraph at offset at (its middle when negative),
// presses keyval and waits for the frame after it (timed), then undoes it (not timed), so that
// every pass edits the same note.
void time_key(benchmark::State &state, int at, guint keyval, void (*undo)(NoteData_t *, NoteElement_t *, int))
{
    if (refused(state)) return;
    const int paragraphs = static_cast<int>(state.range(0));
    reset_peak();
    Form form(paragraphs, static_cast<int>(state.range(1)));
    form.open();
    for (auto _ : state) {
        state.PauseTiming();
        NoteElement_t *e = cursor_in_middle(form.note, paragraphs, at);
        state.ResumeTiming();
        press(e, keyval);
        settle(form.note->edit_scroller);
        state.PauseTiming();
        undo(form.note, e, paragraphs);
        settle(form.note->edit_scroller);
        state.ResumeTiming();
    }
    peak_counter(state);
    form.close();
}

void BM_note_window_key(benchmark::State &state)
{
    time_key(state, -1, GDK_KEY_x, [](NoteData_t *, NoteElement_t *e, int) {
        GtkTextIter at;
        gtk_text_buffer_get_iter_at_mark(e->p.buffer, &at, gtk_text_buffer_get_insert(e->p.buffer));
        gtk_text_buffer_backspace(e->p.buffer, &at, TRUE, TRUE);
    });
}

void BM_note_window_return(benchmark::State &state)
{
    time_key(state, 10, GDK_KEY_Return,
             [](NoteData_t *n, NoteElement_t *, int paragraphs) { press(middle(n, paragraphs)->next, GDK_KEY_BackSpace); });
}

// Frames until the scroller's height and position have stood still for a few.
void settle_still(GtkWidget *scroller)
{
    GtkAdjustment *v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroller));
    double upper = -1, value = -1;
    for (int still = 0; still < 5;) {
        settle(scroller);
        still = gtk_adjustment_get_upper(v) == upper && gtk_adjustment_get_value(v) == value ? still + 1 : 0;
        upper = gtk_adjustment_get_upper(v), value = gtk_adjustment_get_value(v);
    }
}

// Return at the end of the note's last paragraph leaves the new paragraph in the page once the
// window stands still (the test of this runs up to 300 paragraphs; 3,000 take too long under the
// sanitizers).
void BM_note_window_return_at_end_in_sight(benchmark::State &state)
{
    const int paragraphs = static_cast<int>(state.range(0));
    Form form(paragraphs, 0);
    form.open();
    NoteData_t *n = form.note;
    for (auto _ : state) {
        NoteElement_t *last = gnote_get_current_focus(n);
        GtkTextIter end;
        gtk_text_buffer_get_end_iter(last->p.buffer, &end);
        gtk_text_buffer_place_cursor(last->p.buffer, &end);
        press(last, GDK_KEY_Return);
        settle_still(n->edit_scroller);
        GtkWidget *view = last->next ? last->next->p.view : nullptr;
        GtkAdjustment *v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(n->edit_scroller));
        graphene_rect_t r;
        const double top = gtk_adjustment_get_value(v), bottom = top + gtk_adjustment_get_page_size(v);
        if (!view || !gtk_widget_compute_bounds(view, n->views_box, &r) || r.origin.y < top ||
            r.origin.y + r.size.height > bottom)
            state.SkipWithError("the new paragraph is out of sight");
    }
    form.close();
}

void BM_text_view_return(benchmark::State &state)
{
    const int paragraphs = static_cast<int>(state.range(0));
    GtkWidget *window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 500, 600);
    GtkWidget *scroller = gtk_scrolled_window_new();
    GtkWidget *view = gtk_text_view_new();
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), view);
    gtk_window_set_child(GTK_WINDOW(window), scroller);
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    std::string text;
    for (int i = 0; i < paragraphs; ++i)
        text += "Paragraph " + std::to_string(i) + " holds some bold words and a line of plain text to wrap.\n\n";
    gtk_text_buffer_set_text(buffer, text.c_str(), -1);
    gtk_window_present(GTK_WINDOW(window));
    settle(view);
    const int at_line = paragraphs;  // the middle paragraph's line
    for (auto _ : state) {
        GtkTextIter at;
        gtk_text_buffer_get_iter_at_line_offset(buffer, &at, at_line, 10);
        gtk_text_buffer_insert(buffer, &at, "\n", 1);
        settle(view);
        state.PauseTiming();
        GtkTextIter from, to;
        gtk_text_buffer_get_iter_at_line_offset(buffer, &from, at_line, 10);
        to = from;
        gtk_text_iter_forward_char(&to);
        gtk_text_buffer_delete(buffer, &from, &to);
        settle(view);
        state.ResumeTiming();
    }
    gtk_window_destroy(GTK_WINDOW(window));
    drain();
}

// (paragraphs, bytes of a paragraph; 0 for the short ones). The window refuses a paragraph longer
// than its limit: those cases report the refusal.
void note_cases(benchmark::internal::Benchmark *b)
{
    for (int paragraphs : {10, 300, 3'000, 30'000}) b->Args({paragraphs, 0});
    for (int bytes : {4'000, 8'000, GNOTE_EDIT_PARAGRAPH_LIMIT, 16'000, 100'000, 1'000'000}) b->Args({1, bytes});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_note_window_open)->Apply(note_cases);
BENCHMARK(BM_note_window_key)->Apply(note_cases);
BENCHMARK(BM_note_window_return)->Apply(note_cases);
BENCHMARK(BM_note_window_return_at_end_in_sight)->Arg(10)->Arg(3'000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_text_view_return)->Arg(10)->Arg(300)->Arg(3'000)->Arg(30'000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return run_gui_benchmarks(argc, argv, [] { LoadKeySets(PPATH_ROOT "/conf/softkeys"); });
}
