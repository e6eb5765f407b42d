// The drill viewer's lines: the replay of a print buffer into three lists, the rows built from
// them, the row to select, and the reading of a row's mark-up into labels. See gdrill.h.
#include "gdrill.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gdata.h"
#include "ilist.h"
#include "mem_mgt.h"
#include "message.h"
#include "print_handles.h"
#include "ps_notes.h"
#include "ps_page.h"
#include "ps_render.h"
#include "ps_replay.h"
#include "read_error.h"
#include "run_time.h"

int gdrill_landscape = 0;
float gdrill_factor = 1.0f;

namespace {

// The least keep-space a write record sets, in cm; a smaller one leaves the state's as it is.
constexpr float LEAST_KEEP = 2.25f;
constexpr float LEAST_HEADING_ROOM = 2.25f;
// Longest text a list entry takes, as for the headings' entries.
constexpr int ITEM_SIZE = 4096;
// Pixels per cm on the screen, and where the page's printable area begins (portrait, landscape).
constexpr double PIXELS_PER_CM = 37.8;
constexpr double PORTRAIT_OFFSET = 1.45, LANDSCAPE_OFFSET = 0.96;
// A rule: as many underscores of Courier 8 as a length in cm gives, and at most a full line's.
constexpr int RULE_MAX = 143;
constexpr double RULE_PER_CM = 5.38;
constexpr std::size_t ATTRIBUTE_MAX = 23;  // characters of a posn attribute's value
constexpr std::size_t RULE_LENGTH_MAX = 18;

float points(double cm) { return static_cast<float>(cm * POINTS_PER_CM); }

std::string trimmed(std::string text)
{
    while (!text.empty() && g_ascii_isspace(text.back())) text.pop_back();
    return text;
}

void add_line(const GdrillLists &lists, const PrintState_t *state, const std::string &text, const std::string &format,
              const std::string &value)
{
    ilist_addselt(lists.texts, text.c_str(), ITEM_SIZE, 0, nullptr);
    char *scaled = nullptr;
    stop_on(psprint_drill_conv_format(state, format.c_str(), &scaled));
    ilist_addselt(lists.formats, scaled, ITEM_SIZE, 0, nullptr);
    sfree(scaled);
    ilist_addselt(lists.values, value.c_str(), ITEM_SIZE, 0, nullptr);
}

void free_state(PrintState_t *state)
{
    if (!state) return;
    postscript_free_format_line(state);
    postscript_notes_free_all(state);
    postscript_print_state_free(state);
}

// The drill window's note flush: the report's, through the drill write step (pswrite_ps_drill
// and it call each other while notes are pending).
void drill_clear_note(PrintState_t *state, int forced, const GdrillLists &lists);

} // namespace

// ---- GdrillRow -----------------------------------------------------------------------------------

G_DEFINE_FINAL_TYPE(GdrillRow, gdrill_row, G_TYPE_OBJECT)

static void gdrill_row_finalize(GObject *object)
{
    GdrillRow *row = GDRILL_ROW(object);
    g_free(row->value);
    g_free(row->markup);
    G_OBJECT_CLASS(gdrill_row_parent_class)->finalize(object);
}

static void gdrill_row_class_init(GdrillRowClass *klass) { G_OBJECT_CLASS(klass)->finalize = gdrill_row_finalize; }

static void gdrill_row_init(GdrillRow *) {}

GdrillRow *gdrill_row_new(const char *value, const char *markup)
{
    auto *row = static_cast<GdrillRow *>(g_object_new(GDRILL_TYPE_ROW, nullptr));
    row->value = g_strdup(value ? value : "");
    row->markup = g_strdup(markup ? markup : "");
    return row;
}

// ---- The replay ------------------------------------------------------------------------------------

PrintState_t *psopen_ps_drill(const std::string &format, const std::string &margins, const std::string &form,
                              const std::string &colour, const std::string &gutter, float scale)
{
    PrintState_t *state = nullptr;
    stop_on(postscript_print_state_initialise(0, scale, &state));
    state->grey = colour.starts_with('G') ? 1 : 0;
    state->gutter = gutter.starts_with('L') ? 1 : 0;
    postscript_set_margins_form(state, margins.c_str(), form.c_str());
    if (const ReadError error = postscript_parse_default(format.c_str(), state)) {
        postscript_print_state_free(state);
        stop_on(error);
    }
    return state;
}

void psheader_ps_drill(PrintState_t *state, const std::string &text, const std::string &format, int new_page,
                       int level, int store_only, float keep_cm, float gap_cm, const GdrillLists &lists)
{
    state->heading_gap = points(std::max(gap_cm, LEAST_HEADING_ROOM));
    state->keep_space = points(std::max(keep_cm, LEAST_HEADING_ROOM));
    postscript_cut_header(state, level);
    postscript_save_header(state, level, text.c_str(), format.c_str());
    // The screen has no pages: a heading shows where it stands unless it waits for a new page.
    if (store_only && new_page != 1) return;
    const PrintHeader_t *saved = state->headings;
    while (saved->level != level) saved = saved->next;
    postscript_do_heading_lines(state, saved->text, saved->format, level, 1, lists.texts, lists.formats,
                                lists.values);
}

void psfooter_ps_drill(PrintState_t *state, const std::string &text, const std::string &format)
{
    const float height = postscript_save_header(state, -1, text.c_str(), format.c_str());
    state->footer_reserve = height + points(state->bottom_margin);
}

void pswrite_ps_drill(PrintState_t *state, const std::string &line_text, const std::string &format,
                      const std::string &value, float keep_cm, int clear, const GdrillLists &lists)
{
    if (keep_cm > LEAST_KEEP) state->keep_space = points(keep_cm);
    std::string text = line_text;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    const int length = static_cast<int>(text.size());
    stop_on(postscript_parse_format(format.c_str(), state, length));
    if (pswrite_do_clear_note(state, clear) || pswrite_do_clear_multi_line(state, clear)) {
        postscript_free_format_line(state);
        drill_clear_note(state, 1, lists);
        stop_on(postscript_parse_format(format.c_str(), state, length));
    }
    postscript_free_format_line(state);
    add_line(lists, state, text, format, trimmed(value));
}

namespace {

void drill_clear_note(PrintState_t *state, int forced, const GdrillLists &lists)
{
    pswrite_flush_pending(state, forced, [&] {
        pswrite_ps_drill(state, "", "", "", state->keep_space / static_cast<float>(POINTS_PER_CM), 1, lists);
    });
}

} // namespace

GdrillLists gdrill_read_buffer(PrintHandle_t *handle, float scale)
{
    if (!handle) Abort("Program assertion failed in %s@%d: %s", "apostscript", __LINE__, "print_handle");
    GdrillLists lists{ilist_declare(ILIST_STRING), ilist_declare(ILIST_STRING), ilist_declare(ILIST_STRING)};
    psprint_open_buffer(handle);
    PrintState_t *state = nullptr;
    try {
        for (int type; (type = psprint_read_record_type(handle->buffer)) != PR_CLOSE;) {
            std::FILE *in = handle->buffer;
            if (type == PR_OPEN) {
                if (state) Abort("Encountered multiple buffer open records");
                const std::string format = psprint_read_text(in), margins = psprint_read_text(in),
                                  form = psprint_read_text(in);
                psprint_read_text(in);  // the output name: the screen needs none
                const std::string colour = psprint_read_text(in), gutter = psprint_read_text(in);
                state = psopen_ps_drill(format, margins, form, colour, gutter, scale);
                state->cm = psprint_handle_owner(global_data, handle);
                continue;
            }
            if (!state) Abort("Perhaps ipsclose() isn't called");
            if (type == PR_HEADER) {
                const std::string text = psprint_read_text(in), format = psprint_read_text(in);
                const int new_page = psprint_read_integer(in), level = psprint_read_integer(in),
                          store_only = psprint_read_integer(in);
                const float keep = psprint_read_real(in), gap = psprint_read_real(in);
                psheader_ps_drill(state, text, format, new_page, level, store_only, keep, gap, lists);
            } else if (type == PR_FOOTER) {
                const std::string text = psprint_read_text(in), format = psprint_read_text(in);
                psfooter_ps_drill(state, text, format);
            } else {
                const std::string text = psprint_read_text(in), format = psprint_read_text(in),
                                  value = psprint_read_text(in);
                const float keep = psprint_read_real(in);
                pswrite_ps_drill(state, text, format, value, keep, 0, lists);
                drill_clear_note(state, 0, lists);
            }
        }
        if (!state) Abort("Perhaps ipsclose() isn't called");
        drill_clear_note(state, 1, lists);
    } catch (...) {
        free_state(state);
        psprint_close_buffer(handle);
        for (IList_t *list : {lists.values, lists.texts, lists.formats}) ilist_destroy(list);
        throw;
    }
    free_state(state);
    psprint_close_buffer(handle);
    return lists;
}

// ---- Rows ------------------------------------------------------------------------------------------

bool gdrill_markup_empty(std::string_view markup)
{
    bool in_tag = false;
    for (char c : markup) {
        if (in_tag) {
            if (c == '>') in_tag = false;
        } else if (c == '<') {
            in_tag = true;
        } else if (c != ' ' && c != '>') {
            return false;
        }
    }
    return true;
}

int gdrill_row_to_select(const std::vector<std::string> &values, const std::string &initial, int non_alphabetical,
                         int initial_focus)
{
    const std::size_t n = initial.size();
    int chosen = -1, first = -1;
    std::size_t best = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string &v = values[i];
        if (v.empty()) continue;
        if (first < 0) first = static_cast<int>(i);
        if (non_alphabetical) {
            // The terminator counts: an exact match beats a longer value that begins the same.
            std::size_t run = 0;
            while (run <= n && run <= v.size() && (run < n ? initial[run] : '\0') == (run < v.size() ? v[run] : '\0'))
                ++run;
            if (chosen < 0 || run > best) {
                chosen = static_cast<int>(i);
                best = run;
            }
        } else {
            const int order = std::strncmp(v.c_str(), initial.c_str(), n);
            if (initial_focus ? order > 0 : order >= 0) return static_cast<int>(i);
        }
    }
    return non_alphabetical ? chosen : first;
}

GListStore *gdrill_fillPopUp(ControlMatrix_t *cm, const GdrillLists &lists, const std::string &initial, int non_alphabetical,
                             int initial_focus, guint *selected)
{
    PrintState_t *state = nullptr;
    stop_on(postscript_print_state_initialise(0, 1.0f, &state));
    GListStore *store = g_list_store_new(GDRILL_TYPE_ROW);
    // The rendering takes the notes up again: from the same routine as the replay.
    state->cm = cm;
    // The own row of each entry of the texts list, and its value, for choosing the row to select.
    std::vector<guint> entry_row;
    std::vector<std::string> entry_value;
    std::string markup;
    auto append = [&](const std::string &value, const std::string &text) {
        GdrillRow *row = gdrill_row_new(value.c_str(), text.c_str());
        g_list_store_append(store, row);
        g_object_unref(row);
    };
    try {
        const IListElt_t *v = lists.values ? lists.values->head : nullptr;
        const IListElt_t *f = lists.formats ? lists.formats->head : nullptr;
        for (const IListElt_t *t = lists.texts->head; t; t = t->next) {
            const std::string text = t->value.text ? t->value.text : "";
            const std::string value = v && v->value.text ? trimmed(v->value.text) : "";
            const char *format = f && f->value.text ? f->value.text : "";
            stop_on(postscript_parse_format(format, state, static_cast<int>(text.size())));
            postscript_apply_format_to_display_line(markup, text, state);
            postscript_free_format_line(state);
            entry_row.push_back(g_list_model_get_n_items(G_LIST_MODEL(store)));
            entry_value.push_back(value);
            append(value, markup);
            // A note's further lines become rows of their own, under the line that began it.
            for (bool first = true; state->notes; first = false) {
                stop_on(postscript_parse_format("", state, 0));
                postscript_apply_format_to_display_line(markup, "", state);
                postscript_free_format_line(state);
                if (!first && !gdrill_markup_empty(markup)) append(value, markup);
            }
            if (v) v = v->next;
            if (f) f = f->next;
        }
    } catch (...) {
        free_state(state);
        g_object_unref(store);
        throw;
    }
    free_state(state);
    const guint rows = g_list_model_get_n_items(G_LIST_MODEL(store));
    const int entry = gdrill_row_to_select(entry_value, initial, non_alphabetical, initial_focus);
    *selected = rows == 0 ? GTK_INVALID_LIST_POSITION : entry >= 0 ? entry_row[static_cast<std::size_t>(entry)] : rows - 1;
    return store;
}

// ---- Mark-up of a row ------------------------------------------------------------------------------

namespace {

// The value of attribute name searched from from: the text between the next two double quotes,
// read as a number; *end becomes the position after the closing quote.
double attribute(std::string_view markup, std::size_t from, std::string_view name, std::size_t limit,
                 const char *too_long, const char *bad, std::size_t *end, bool *found)
{
    const std::size_t at = markup.find(name, from);
    *found = at != std::string_view::npos && at < limit;
    if (!*found) return 0;
    const std::size_t open = markup.find('"', at);
    const std::size_t close = open == std::string_view::npos ? open : markup.find('"', open + 1);
    if (close == std::string_view::npos) Abort("%s", bad);
    const std::string value(markup.substr(open + 1, close - open - 1));
    if (value.size() > ATTRIBUTE_MAX) Abort("%s", too_long);
    char *stop = nullptr;
    const double number = std::strtod(value.c_str(), &stop);
    if (stop == value.c_str()) Abort("%s", bad);
    *end = close + 1;
    return number;
}

} // namespace

std::vector<GdrillItem> gdrill_layout_get_item(std::string_view markup)
{
    std::vector<GdrillItem> items;
    const double offset = gdrill_landscape ? LANDSCAPE_OFFSET : PORTRAIT_OFFSET;
    std::size_t at = 0;
    while (at < markup.size()) {
        const std::size_t posn = markup.find("<posn ", at);
        if (posn != at) {
            const std::size_t end = posn == std::string_view::npos ? markup.size() : posn;
            items.push_back({std::string(markup.substr(at, end - at)), 0, 0});
            at = end;
            continue;
        }
        const std::size_t close = markup.find('>', posn);
        const std::size_t limit = close == std::string_view::npos ? markup.size() : close;
        std::size_t after = posn;
        bool found = false;
        const double start = attribute(markup, posn, "start", limit, "The start position for an item has too many characters",
                                       "Error in position of item", &after, &found);
        if (!found) Abort("Error in position of item");
        const double align = attribute(markup, after, "align", limit, "The align for an item has too many characters",
                                       "Error in align of item", &after, &found);
        if (!found) Abort("Error in align of item");
        // The length is checked but the label's own width places the item.
        attribute(markup, after, "length", limit, "The length for an item has too many characters",
                  "Error in position of item", &after, &found);
        const std::size_t inner = limit == markup.size() ? limit : limit + 1;
        const std::size_t end_tag = markup.find("</posn>", inner);
        const std::size_t inner_end = end_tag == std::string_view::npos ? markup.size() : end_tag;
        items.push_back({std::string(markup.substr(inner, inner_end - inner)), (start - offset) * PIXELS_PER_CM,
                         static_cast<int>(align)});
        at = end_tag == std::string_view::npos ? markup.size() : end_tag + std::strlen("</posn>");
    }
    return items;
}

namespace {

// A "<span " element of item up to its '>' (at end), as the label shows it.
std::string span_element(std::string element)
{
    const std::size_t background = element.find("background=");
    const std::size_t font = element.find("font_desc=");
    // Only this element's attributes count: a later span of the line may order its own freely.
    if (background != std::string::npos && font != std::string::npos && font < background)
        Abort("font_desc appears before background");
    if (background != std::string::npos) {
        const std::size_t open = element.find('"', background);
        const std::size_t close = open == std::string::npos ? open : element.find('"', open + 1);
        std::size_t end = close == std::string::npos ? element.size() : close + 1;
        if (end < element.size() && element[end] == ' ') ++end;
        element.erase(background, end - background);
    }
    const std::size_t desc = element.find("font_desc=");
    if (desc == std::string::npos) return element;
    const std::size_t digit = element.find_first_of("0123456789", desc);
    if (digit == std::string::npos) Abort("Font size not found in font_desc tag");
    std::size_t digits_end = digit;
    while (digits_end < element.size() && g_ascii_isdigit(element[digits_end])) ++digits_end;
    if (digits_end >= element.size()) Abort("Unexpected tag format in font_desc");
    const std::size_t quote = element.find('"', digits_end);
    if (quote == std::string::npos) Abort("Missing close quotes in font_desc");
    const long size = std::strtol(element.substr(digit, digits_end - digit).c_str(), nullptr, 10);
    const int scaled = static_cast<int>(0.5 + static_cast<double>(size) * (gdrill_factor * 0.5 + 0.5));
    if (scaled > 99) Abort("Font size too large");
    element.replace(digit, digits_end - digit, std::to_string(scaled));
    return element;
}

// A "<line " element up to its '>' as a rule of underscores.
std::string rule_element(const std::string &element)
{
    int count = RULE_MAX;
    const std::size_t length = element.find("length=");
    if (length != std::string::npos) {
        const std::size_t open = element.find('"', length);
        const std::size_t close = open == std::string::npos ? open : element.find('"', open + 1);
        if (close == std::string::npos || close - open - 1 > RULE_LENGTH_MAX) Abort("Malformed line tag");
        const double cm = std::strtod(element.substr(open + 1, close - open - 1).c_str(), nullptr);
        count = std::min(RULE_MAX, static_cast<int>(cm * RULE_PER_CM + 0.5));
    }
    return "<span font_desc=\"Courier 8\">" + std::string(static_cast<std::size_t>(std::max(count, 0)), '_') + "</span>";
}

} // namespace

std::string gdrill_label_set_markup(std::string_view item)
{
    // Built in a growing string: a line of any length fits.
    std::string out;
    out.reserve(item.size() + 16);
    std::size_t at = 0;
    while (at < item.size()) {
        const bool span = item.compare(at, 6, "<span ") == 0;
        const bool line = !span && item.compare(at, 6, "<line ") == 0;
        if (!span && !line) {
            out += item[at++];
            continue;
        }
        const std::size_t close = item.find('>', at);
        const std::size_t end = close == std::string_view::npos ? item.size() : close;
        const std::string element(item.substr(at, end - at));
        if (span) {
            out += span_element(element);
            at = end;  // the '>' is copied as it stands
        } else {
            out += rule_element(element);
            at = end == item.size() ? end : end + 1;
        }
    }
    return out;
}

double gdrill_aligned_x(GtkLabel *label, double x, int align)
{
    PangoLayout *layout = gtk_label_get_layout(label);
    int width = 0, height = 0;
    pango_layout_get_size(layout, &width, &height);
    const double whole = width / PANGO_SCALE;
    const char *text = pango_layout_get_text(layout);
    const std::string_view shown = text ? text : "";
    auto width_to = [&](std::size_t index) {
        PangoRectangle where;
        pango_layout_index_to_pos(layout, static_cast<int>(index), &where);
        return static_cast<double>(where.x / PANGO_SCALE);
    };
    switch (align) {
    case 1: x -= whole; break;
    case 2: x -= whole / 2; break;
    case 3: {
        const std::size_t point = shown.rfind('.');
        if (point != std::string_view::npos)
            x -= width_to(point);
        else if (shown.size() >= 1 && shown.back() == '-' && !(shown.size() >= 2 && shown[shown.size() - 2] == '-'))
            x -= width_to(shown.size() - 1);  // a trailing minus hangs past the figures
        else
            x -= whole;
        break;
    }
    default: break;
    }
    return std::max(x, 0.0);
}

char *gdrill_trim(char *text)
{
    if (!text) return text;
    std::size_t n = std::strlen(text);
    while (n > 0 && g_ascii_isspace(text[n - 1])) text[--n] = '\0';
    return text;
}
