// The replay of a print buffer file into PostScript. See ps_replay.h.
#include "ps_replay.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "cases.h"
#include "gdata.h"
#include "intrinsics.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "print_handles.h"
#include "ps_format.h"
#include "ps_notes.h"
#include "ps_page.h"
#include "ps_render.h"
#include "read_error.h"
#include "run_time.h"
#include "shared_files.h"
#include "signals.h"
#include "value_stack.h"

using intr::arg;

namespace {

// How many records or flushed lines the replay lays out between two looks at a pending signal.
constexpr std::size_t SAFE_POINT_LINES = 1024;

// The least heading gap and keep-space of a heading, in cm.
constexpr float LEAST_HEADING_ROOM = 2.25f;
// An empty line still moves down by this share of its step.
constexpr float EMPTY_LINE_SHARE = 0.35f;
// The white space at which an output name ends, as it does for its buffer file's name.
constexpr const char *NAME_END = " \t\n\v\f\r";

float points(double cm) { return static_cast<float>(cm * POINTS_PER_CM); }

bool page_empty(const PrintState_t *state) { return state->current_y > state->page_height - 1; }

void print_headings(PrintState_t *state)
{
    for (int level = 0; postscript_print_heading(state, level, 0, nullptr, nullptr, nullptr); ++level) {
    }
}

bool has_watermark(const PrintState_t *state)
{
    return state->watermark_tag && state->watermark_tag->watermark_text && state->watermark_tag->watermark_text[0] != '\n';
}

void page_break(PrintState_t *state)
{
    postscript_print_heading(state, -1, 0, nullptr, nullptr, nullptr);
    std::string end = postscript_get_timestamp();
    if (has_watermark(state))
        end += "S (" + postscript_escape(state->watermark_tag->watermark_text) + ") wm\n";
    else
        end += "S\n";
    postscript_write(state, end);
    state->current_y = static_cast<float>(state->page_height);
    ++state->page_number;
    print_headings(state);
}

// Renders the line the state's format was parsed for, then drops the format.
int render(std::string &out, const std::string &text, PrintState_t *state, int note)
{
    const int height = postscript_apply_format_to_print_line(out, text, state, 0, note);
    postscript_free_format_line(state);
    return height;
}

// Frees a state given up half way (a replay that ends in a fault keeps its files, not its memory).
void discard_state(PrintHandle_t *handle)
{
    if (!handle->state) return;
    postscript_free_format_line(handle->state);
    postscript_notes_free_all(handle->state);
    if (handle->state->output_file) std::fclose(handle->state->output_file);
    handle->state->output_file = nullptr;
    postscript_print_state_free(handle->state);
    handle->state = nullptr;
}

} // namespace

PrintState_t *psopen_ps(const std::string &format, const std::string &margins, const std::string &form,
                        const std::string &name, const std::string &colour, const std::string &gutter)
{
    PrintState_t *state = nullptr;
    stop_on(postscript_print_state_initialise(1, 1.0f, &state));
    state->grey = colour.starts_with('G') ? 1 : 0;
    state->gutter = gutter.starts_with('L') ? 1 : 0;
    // Words after the name (as for the buffer file) are not part of the file's name.
    const std::string path = name.substr(0, name.find_first_of(NAME_END));
    state->output_name = Strcpy(path.c_str());
    const int fd = open_by_name(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    state->output_file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!state->output_file) {
        const int error = errno;
        if (fd >= 0) close(fd);
        postscript_print_state_free(state);
        Abort("Error %d attempting to create postscript output file %s", error, path.c_str());
    }
    return state;
}

void psheader_ps(PrintState_t *state, const std::string &text, const std::string &format, int new_page, int level,
                 int store_only, float keep_cm, float gap_cm)
{
    state->heading_gap = points(std::max(gap_cm, LEAST_HEADING_ROOM));
    state->keep_space = points(std::max(keep_cm, LEAST_HEADING_ROOM));
    postscript_cut_header(state, level);
    const float height = postscript_save_header(state, level, text.c_str(), format.c_str());
    if (store_only && new_page != 1) return;
    const PrintHeader_t *saved = state->headings;
    while (saved->level != level) saved = saved->next;
    if (new_page != 1 && !(state->heading_gap + height > state->current_y) &&
        !(state->keep_space + height > state->current_y)) {
        postscript_do_heading_lines(state, saved->text, saved->format, level, 0, nullptr, nullptr, nullptr);
        return;
    }
    if (!page_empty(state))
        page_break(state);
    else
        postscript_do_heading_lines(state, saved->text, saved->format, level, 0, nullptr, nullptr, nullptr);
}

void psfooter_ps(PrintState_t *state, const std::string &text, const std::string &format)
{
    const float height = postscript_save_header(state, -1, text.c_str(), format.c_str());
    state->footer_reserve = height + points(state->bottom_margin);
}

void pswrite_ps(PrintState_t *state, const std::string &line_text, const std::string &format, float keep_cm, int clear)
{
    state->keep_space = keep_cm == 0.0f ? 0.0f : points(keep_cm);
    std::string text = line_text;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (page_empty(state)) print_headings(state);
    int colour_before = state->current_colour;
    const int length = static_cast<int>(text.size());
    stop_on(postscript_parse_format(format.c_str(), state, length));
    if (pswrite_do_clear_note(state, clear) || pswrite_do_clear_multi_line(state, clear)) {
        postscript_free_format_line(state);
        pswrite_clear_note(state, 1);
        colour_before = state->current_colour;
        stop_on(postscript_parse_format(format.c_str(), state, length));
    }
    // What this rendering begins is forgotten if the line is rendered again.
    const int multi_lines_before = state->multi_line_count;
    const PrintNote_t *last_note = state->notes;
    while (last_note && last_note->next) last_note = last_note->next;
    std::string rendered;
    int height = render(rendered, text, state, 0);
    bool broke = false;
    int colour_after = 0;
    if (height * state->line_spacing + state->footer_reserve > state->current_y || state->keep_space > state->current_y) {
        colour_after = state->current_colour;
        state->current_colour = colour_before;
        page_break(state);
        state->current_colour = -1;
        broke = true;
    }
    const int mark = broke ? colour_after : 0;
    // After a page break the output's colour is the device's again: the line is rendered anew so
    // that its first text names its colour.
    if (broke || (colour_before == mark && mark != state->current_colour)) {
        state->current_colour = -1;
        postscript_notes_forget_since(state, last_note, multi_lines_before);
        stop_on(postscript_parse_format(format.c_str(), state, length));
        height = render(rendered, text, state, 1);
    }
    if (!rendered.empty())
        postscript_place_line(state, rendered, height, page_empty(state));
    else
        state->current_y -= EMPTY_LINE_SHARE * static_cast<float>(height) * state->line_spacing;
    postscript_notes_free_line(state);
}

void psclose_ps(PrintState_t *state)
{
    postscript_write(state, postscript_get_timestamp() + "S\n\n");
    const int failed = std::fclose(state->output_file);
    state->output_file = nullptr;
    postscript_print_state_free(state);
    if (failed != 0) Abort("Error writing to postscript output file");
}

void pswrite_clear_note(PrintState_t *state, int forced)
{
    pswrite_flush_pending(state, forced, [state] {
        pswrite_ps(state, "", "", state->keep_space / static_cast<float>(POINTS_PER_CM), 1);
    });
}

void psprint_replay(PrintHandle_t *handle)
{
    if (handle->writing) Abort("Perhaps ipsclose() isn't called");
    psprint_open_buffer(handle);
    PrintState_t *state = nullptr;
    try {
        std::size_t records = 0;
        for (int type; (type = psprint_read_record_type(handle->buffer)) != PR_CLOSE;) {
            if (++records % SAFE_POINT_LINES == 0) check_signals();
            std::FILE *in = handle->buffer;
            if (type == PR_OPEN) {
                if (state) Abort("Encountered multiple buffer open records");
                const std::string format = psprint_read_text(in), margins = psprint_read_text(in),
                                  form = psprint_read_text(in), name = psprint_read_text(in),
                                  colour = psprint_read_text(in), gutter = psprint_read_text(in);
                handle->state = state = psopen_ps(format, margins, form, name, colour, gutter);
                state->cm = psprint_handle_owner(global_data, handle);
                postscript_set_margins_form(state, margins.c_str(), form.c_str());
                stop_on(postscript_parse_default(format.c_str(), state));
                postscript_initialise_prolog(state->output_file);
                continue;
            }
            if (!state) Abort("Perhaps ipsclose() isn't called");
            if (type == PR_HEADER) {
                const std::string text = psprint_read_text(in), format = psprint_read_text(in);
                const int new_page = psprint_read_integer(in), level = psprint_read_integer(in),
                          store_only = psprint_read_integer(in);
                const float keep = psprint_read_real(in), gap = psprint_read_real(in);
                psheader_ps(state, text, format, new_page, level, store_only, keep, gap);
            } else if (type == PR_FOOTER) {
                const std::string text = psprint_read_text(in), format = psprint_read_text(in);
                psfooter_ps(state, text, format);
            } else {
                const std::string text = psprint_read_text(in), format = psprint_read_text(in);
                psprint_read_text(in);  // the line's value serves the drill window
                const float keep = psprint_read_real(in);
                pswrite_ps(state, text, format, keep, 0);
                pswrite_clear_note(state, 0);
            }
        }
        if (!state) Abort("Perhaps ipsclose() isn't called");
        pswrite_clear_note(state, 1);
        handle->state = nullptr;
        psclose_ps(state);
    } catch (...) {
        // The partial output and the buffer stay for the reader of the report; the memory goes.
        discard_state(handle);
        psprint_close_buffer(handle);
        throw;
    }
    psprint_close_buffer(handle);
}

void ipsprint(int nargs, int last)
{
    if (nargs != 2) Abort("Invalid number of parameters to ipsprint %d", nargs);
    Stack &result = arg(nargs, last, 1);
    if (result.s_t != real || !(result.flags & stk_ref) || !result.s_c.C_N)
        Xerror(202, "IPSPRINT: argument must be a numeric variable");
    const long value = intr::long_integer(arg(nargs, last, 0));
    if (!value) {
        has_signal = 1;
        Abort("Program assertion failed in %s@%d: %s", "apostscript", __LINE__, "print_handle");
    }
    auto *handle = reinterpret_cast<PrintHandle_t *>(value);
    if (!psprint_handle_owner(global_data, handle))
        Abort("Invalid Print Handle %lX passed to ipsprint", static_cast<unsigned long>(value));
    psprint_replay(handle);
    NumericCvINT(0, result.s_c.C_N);
}
