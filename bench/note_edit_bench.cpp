// The note edit window's Return: from the paragraph view's key handler (which splits the
// paragraph, takes the views back into the note and rebuilds every view) to the end of the
// main-loop pass after the redraw, on notes of 10, 100 and 300 paragraphs with an amount after
// every tenth; against one GtkTextView holding the same text taking a newline at the same place,
// drawn the same way, in the same run. Also the opening of the window on the same notes. GTK runs
// on a private X server; the "FKN" key set is the site's, so the program runs under
// the with_site runner.
#include <benchmark/benchmark.h>

#include <string>

#include <gtk/gtk.h>

#include "cmatrix.h"
#include "gnote_edit.h"
#include "gnote_field.h"
#include "gui_bench.h"
#include "mem_mgt.h"
#include "run_time.h"
#include "softkeys.h"

namespace {

std::string note_text(int paragraphs)
{
    std::string t = "<note ver=\"1\">";
    for (int i = 0; i < paragraphs; ++i) {
        t += "<p datatype=\"P\" position=\"0\"><![CDATA[Paragraph " + std::to_string(i) +
             " holds <b>some bold words</b> and a line of plain text to wrap.]]></p>";
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

// A form window with its matrix, and a note record over it as IGNOTE_NEW leaves one (no field
// widgets are needed for the window).
struct Form {
    GtkWidget *window = gtk_window_new();
    ControlMatrix_t *cm = cset_new(global_data, window, 0);
    NoteData_t *note = static_cast<NoteData_t *>(salloc(sizeof(NoteData_t)));
    explicit Form(int paragraphs)
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
        gnote_parse_xml(note, note_text(paragraphs).c_str(), 1);
        drain();
    }
    void open() { gnote_edit_create(window, note); }
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

void BM_note_window_return(benchmark::State &state)
{
    const int paragraphs = static_cast<int>(state.range(0));
    Form form(paragraphs);
    form.open();
    drain();
    for (auto _ : state) {
        state.PauseTiming();
        NoteElement_t *e = middle(form.note, paragraphs);
        GtkTextIter at;
        gtk_text_buffer_get_iter_at_offset(e->p.buffer, &at, 10);
        gtk_text_buffer_place_cursor(e->p.buffer, &at);
        GtkEventController *keys = e->p.key_controller;
        state.ResumeTiming();
        gnote_edit_key_press_event(GTK_EVENT_CONTROLLER_KEY(keys), GDK_KEY_Return, 0, GdkModifierType(0), e);
        drain();
        state.PauseTiming();
        // Joined again, so that every pass splits the same note.
        NoteElement_t *second = middle(form.note, paragraphs)->next;
        gnote_edit_key_press_event(GTK_EVENT_CONTROLLER_KEY(second->p.key_controller), GDK_KEY_BackSpace, 0,
                                   GdkModifierType(0), second);
        drain();
        state.ResumeTiming();
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
    drain();
    const int at_line = paragraphs;  // the middle paragraph's line
    for (auto _ : state) {
        GtkTextIter at;
        gtk_text_buffer_get_iter_at_line_offset(buffer, &at, at_line, 10);
        gtk_text_buffer_insert(buffer, &at, "\n", 1);
        drain();
        state.PauseTiming();
        GtkTextIter from, to;
        gtk_text_buffer_get_iter_at_line_offset(buffer, &from, at_line, 10);
        to = from;
        gtk_text_iter_forward_char(&to);
        gtk_text_buffer_delete(buffer, &from, &to);
        drain();
        state.ResumeTiming();
    }
    gtk_window_destroy(GTK_WINDOW(window));
    drain();
}

void BM_note_window_open(benchmark::State &state)
{
    const int paragraphs = static_cast<int>(state.range(0));
    Form form(paragraphs);
    for (auto _ : state) {
        form.open();
        drain();
        state.PauseTiming();
        form.close();
        state.ResumeTiming();
    }
}

BENCHMARK(BM_note_window_return)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_text_view_return)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_note_window_open)->Arg(10)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return run_gui_benchmarks(argc, argv, [] { LoadKeySets(PPATH_ROOT "/conf/softkeys"); });
}
