// Page set-up, prolog and headings of a PostScript report. See ps_page.h.
#include "ps_page.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <sys/time.h>
#include <vector>

#include "ilist.h"
#include "mem_mgt.h"
#include "message.h"
#include "ps_format.h"
#include "ps_notes.h"
#include "ps_render.h"
#include "read_error.h"

namespace {

// Default margins in cm.
constexpr float LEFT_MARGIN = 1.6f, TOP_MARGIN = 0.7f, RIGHT_MARGIN = 0.7f, BOTTOM_MARGIN = 1.2f;
// A margin figure counts when it lies strictly between these.
constexpr double SMALLEST_MARGIN = 0.01, LARGEST_MARGIN = 300.1;
constexpr std::size_t MARGIN_FIGURE_SIZE = 15;
// The printable width and height the margins must leave, in cm.
constexpr double LEAST_PRINTABLE = 1.0;
constexpr float HEADING_SPACING = 1.15f;
// Longest text a drill list element takes.
constexpr int DRILL_ITEM_SIZE = 4096;

// The base fonts, as the show procedures' suffixes name them.
struct Font {
    const char *suffix;
    const char *name;
};
constexpr Font FONTS[] = {
    {"H", "Helvetica"},   {"Hb", "Helvetica-Bold"},   {"Hi", "Helvetica-Oblique"},   {"Hbi", "Helvetica-BoldOblique"},
    {"C", "Courier"},     {"Cb", "Courier-Bold"},     {"Ci", "Courier-Oblique"},     {"Cbi", "Courier-BoldOblique"},
    {"T", "Times-Roman"}, {"Tb", "Times-Bold"},       {"Ti", "Times-Italic"},        {"Tbi", "Times-BoldItalic"},
};

bool figure_char(char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; }
const char *skip_to_figure(const char *p)
{
    while (*p && !figure_char(*p) && *p != ',') ++p;
    return p;
}

void check_printable(const PrintState_t *state, int width_points)
{
    const double width = width_points / POINTS_PER_CM - state->left_margin - state->right_margin;
    const double height = state->page_height / POINTS_PER_CM - state->top_margin - state->bottom_margin;
    if (width < LEAST_PRINTABLE)
        Abort("Left margin %0.2f cm and right margin %0.2f cm leave less than 1 cm of printable width",
              state->left_margin, state->right_margin);
    if (height < LEAST_PRINTABLE)
        Abort("Top margin %0.2f cm and bottom margin %0.2f cm leave less than 1 cm of printable height",
              state->top_margin, state->bottom_margin);
}

// The lines of a heading's text or format, split at every line feed and carriage return.
std::vector<std::string> lines_of(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
            lines.emplace_back(text.substr(start, i - start));
            start = i + 1;
        }
    return lines;
}

// Text and format lines of a heading, one format per text line.
void pair_lines(const char *text, const char *format, std::vector<std::string> &texts, std::vector<std::string> &formats)
{
    texts = lines_of(text);
    formats = lines_of(format);
    if (texts.size() != formats.size())
        Abort("Lines of heading text are 'cr' separated, and must have a one to one relationship with 'cr' separated "
              "format specification\n%s\n%s",
              text, format);
}

// The suffix of a show procedure for the watermark tag's font.
std::string watermark_font(const PrintState_t *state, const PrintTag_t *tag)
{
    const int weight = state->grey ? tag->print_grey_weight : tag->print_weight;
    std::string suffix(1, tag->print_family == 1 ? 'H' : tag->print_family == 2 ? 'T' : 'C');
    if (weight == 1) suffix += 'b';
    if (tag->print_style == 1) suffix += 'i';
    return suffix;
}

// The first page's set-up, written with the report's first line.
std::string first_page_set_up(PrintState_t *state, const std::string &line)
{
    std::string out;
    ps_append(out, "/n {/Y exch def %0.2f sh Y moveto} def\n", state->left_margin * POINTS_PER_CM);
    if (state->form == 3)
        out += state->orientation ? "/F {dup /pageheight 842 def 1 dict dup /PageSize [1190 842] put \n"
                                  : "/F {dup /pageheight 1190 def 1 dict dup /PageSize [842 1190] put \n";
    else
        out += state->orientation ? "/F {dup /pageheight 595 def 1 dict dup /PageSize [842 595] put\n"
                                  : "/F {dup /pageheight 842 def 1 dict dup /PageSize [595 842] put\n";
    out += "\t systemdict /setpagedevice known {dup setpagedevice} if\n";
    out += "\t exch n} def\n";
    ps_append(out, "/sh {pg {%0.2f cm sub} if} def\n", state->gutter ? state->left_margin - state->right_margin : 0.0);
    const PrintTag_t *wm = state->watermark_tag;
    if (wm && wm->watermark_text && wm->watermark_text[0] != '\n') {
        std::string colour;
        postscript_print_colour(colour, state->grey && wm->print_grey >= 0 ? wm->print_grey : wm->print_colour);
        ps_append(out,
                  "/wm {gsave %d exch sa%s 92 %d translate 45 rotate 2 1 scale newpath dup stringwidth pop 2 div 200 "
                  "sub -1 mul 100 moveto true charpath 2.0 setlinewidth %s stroke grestore} def\n\n\n%s%0.1f F (%s) "
                  "wm %s\n",
                  wm->print_size, watermark_font(state, wm).c_str(), state->orientation ? -50 : 170, colour.c_str(),
                  postscript_get_timestamp().c_str(), state->current_y, postscript_escape(wm->watermark_text).c_str(),
                  line.c_str());
    } else {
        ps_append(out, "%s%0.1f F %s\n", postscript_get_timestamp().c_str(), state->current_y, line.c_str());
    }
    return out;
}

} // namespace

void postscript_set_margins_form(PrintState_t *state, const char *margins, const char *form)
{
    float *const figures[] = {&state->left_margin, &state->top_margin, &state->right_margin, &state->bottom_margin};
    static const char *const too_long[] = {"Left margin figure has too many characters", "Top margin figure has too many characters",
                                           "Right margin figure has too many characters",
                                           "Bottom margin figure has too many characters"};
    state->left_margin = LEFT_MARGIN;
    state->top_margin = TOP_MARGIN;
    state->right_margin = RIGHT_MARGIN;
    state->bottom_margin = BOTTOM_MARGIN;
    const char *p = skip_to_figure(margins ? margins : "");
    for (int i = 0; *p; ++i) {
        if (i == 4) Abort("Too many margin figures");
        const char *begin = p;
        while (figure_char(*p)) ++p;
        const std::size_t n = static_cast<std::size_t>(p - begin);
        if (n > MARGIN_FIGURE_SIZE) Abort("%s", too_long[i]);
        if (n) {
            const double value = std::strtod(ps_format("%.*s", static_cast<int>(n), begin).c_str(), nullptr);
            if (value > SMALLEST_MARGIN && value < LARGEST_MARGIN) *figures[i] = static_cast<float>(value);
        }
        p = skip_to_figure(p);
        if (*p == ',') ++p;
        p = skip_to_figure(p);
    }

    const char *f = form ? form : "";
    state->form = 4;
    state->orientation = 0;
    if (*f != 'a' && *f != 'A') {
        for (const char *c = f; *c; ++c)
            if (!std::isspace(static_cast<unsigned char>(*c))) Abort("Invalid form type '%s'", f);
    } else {
        if (f[1] != '3' && f[1] != '4') Abort("Invalid form type: %s", f);
        state->form = f[1] - '0';
        const char o = f[2];
        if (o == 'L' || o == 'l')
            state->orientation = 1;
        else if (o != 'P' && o != 'p' && o != '\0')
            Abort("Invalid form type: %s", f);
        if (o && f[3]) Abort("Invalid form type: %s", f);
    }
    int width = 0;
    if (state->form == 4) {
        state->page_height = state->orientation ? 595 : 842;
        width = state->orientation ? 842 : 595;
    } else {
        state->page_height = state->orientation ? 842 : 1190;
        width = state->orientation ? 1190 : 842;
    }
    state->current_y = static_cast<float>(state->page_height);
    check_printable(state, width);
}

std::string postscript_get_timestamp()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    const std::time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    char date[31];
    const std::size_t n = std::strftime(date, sizeof date, "%a  %d %b %Y  %H:%M:%S", &local);
    date[n] = '\0';
    return ps_format("%% Date:   %s.%06d\n", date, static_cast<int>(now.tv_usec));
}

std::string postscript_prolog_text()
{
    std::string out = "%!PS-Adobe-3.0\n";
    out += "% Vendor: The Lumba project\n";
    out += postscript_get_timestamp();
    out += "\n% Core definitions\n\n";
    ps_append(out, "/cm {%0.9f mul} def\n", POINTS_PER_CM);
    out += "/pg false def\n";
    // The base fonts re-encoded to ISO Latin-1 under their own names, so the font procedures below
    // show accented letters as the escaped text gives them; '-' stays a hyphen (ISO Latin-1 has the
    // wider minus sign there).
    out += "/reencode {dup findfont dup length dict begin {1 index /FID ne {def} {pop pop} ifelse} forall\n"
           "\t/Encoding ISOLatin1Encoding 256 array copy dup 45 /hyphen put def currentdict end definefont pop} def\n";
    for (const Font &font : FONTS) ps_append(out, "/%s reencode\n", font.name);
    for (const Font &font : FONTS)
        ps_append(out, "/sa%s {exch /%s findfont exch scalefont setfont} def\n", font.suffix, font.name);
    for (const Font &font : FONTS) ps_append(out, "/sf%s {sa%s show} def\n", font.suffix, font.suffix);
    out += "/n1 {dup (.) search\n"
           "\t{stringwidth pop -1 mul 5 -1 roll cm add sh Y moveto pop pop show}\n"
           "\t{pop dup (-) search\n"
           "\t{stringwidth pop -1 mul 5 -1 roll cm add sh Y moveto pop pop show}\n"
           "\t{stringwidth pop -1 mul 3 -1 roll cm add sh Y moveto show}\n"
           "\tifelse} ifelse} def\n";
    out += "/n2 {exch cm sh Y moveto show} def\n";
    out += "/n3 {dup stringwidth pop 3 -1 roll cm sub -1 mul sh Y moveto show} def\n";
    out += "/n4 {dup stringwidth pop 2 div 3 -1 roll cm sub -1 mul sh Y moveto show} def\n";
    for (const auto &[kind, place] : {std::pair{"sn", "n1"}, {"sg", "n2"}, {"sr", "n3"}, {"sc", "n4"}})
        for (const Font &font : FONTS) ps_append(out, "/%s%s {sa%s %s} def\n", kind, font.suffix, font.suffix, place);
    out += "/S {/pg pg not def showpage} def\n";
    out += "/C {setrgbcolor} def\n";
    out += "/ln11 {gsave cm exch cm dup sh Y truncate 0.1 add moveto add sh Y truncate 0.1 add lineto 0 setlinewidth "
           "stroke grestore} def\n";
    out += "/ln12 {gsave [1 2] 0 setdash cm exch cm dup sh Y truncate 0.1 add moveto add sh Y truncate 0.1 add lineto 0 "
           "setlinewidth stroke grestore} def\n";
    out += "/ln13 {gsave [4 2] 0 setdash cm exch cm dup sh Y truncate 0.1 add moveto add sh Y truncate 0.1 add lineto 0 "
           "setlinewidth stroke grestore} def\n";
    return out;
}

void postscript_initialise_prolog(std::FILE *output)
{
    const std::string prolog = postscript_prolog_text();
    if (std::fwrite(prolog.data(), 1, prolog.size(), output) != prolog.size())
        Abort("Error writing to postscript output file");
}

void postscript_write(PrintState_t *state, const std::string &text)
{
    if (std::fwrite(text.data(), 1, text.size(), state->output_file) != text.size())
        Abort("Error writing to postscript output file");
}

float postscript_save_header(PrintState_t *state, int level, const char *text, const char *format)
{
    std::string t(text ? text : ""), f(format ? format : "");
    std::size_t end = t.size();
    while (end && t[end - 1] == ' ') --end;
    // A blank after a line break keeps the last line: it pairs with its format line.
    if (end < t.size() && end && (t[end - 1] == '\n' || t[end - 1] == '\r')) ++end;
    t.resize(end);
    while (!f.empty() && f.back() == ' ') f.pop_back();
    PrintHeader_t *heading = state->headings;
    while (heading && heading->level != level) heading = heading->next;
    if (heading) {
        DPS_FREE(heading->text);
        DPS_FREE(heading->format);
    } else {
        heading = Alloc(PrintHeader_t);
        heading->level = level;
        PrintHeader_t **link = &state->headings;
        PrintHeader_t *prior = nullptr;
        while (*link) {
            prior = *link;
            link = &prior->next;
        }
        heading->prior = prior;
        *link = heading;
    }
    heading->text = Strcpy(t.c_str());
    heading->format = Strcpy(f.c_str());
    return postscript_get_heading_size(heading, state, heading->format, heading->text);
}

float postscript_get_heading_size(const PrintHeader_t *, PrintState_t *state, const char *format, const char *text)
{
    std::vector<std::string> texts, formats;
    pair_lines(text, format, texts, formats);
    const int colour = state->current_colour, size = state->current_size, multi_lines = state->multi_line_count;
    int sum = 0;
    std::string line;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        stop_on(postscript_parse_format(formats[i].c_str(), state, static_cast<int>(texts[i].size())));
        sum += postscript_apply_format_to_print_line(line, texts[i], state, 1, 0);
        postscript_free_format_line(state);
    }
    state->current_colour = colour;
    state->current_size = size;
    // Measuring prints nothing: a multi-line text it began begins again when the heading prints.
    const PrintNote_t *last = state->notes;
    while (last && last->next) last = last->next;
    postscript_notes_forget_since(state, last, multi_lines);
    return HEADING_SPACING * static_cast<float>(sum);
}

void postscript_cut_header(PrintState_t *state, int level)
{
    for (PrintHeader_t *h = state->headings, *next = nullptr; h; h = next) {
        next = h->next;
        if (h->level <= level) continue;
        (h->prior ? h->prior->next : state->headings) = h->next;
        if (h->next) h->next->prior = h->prior;
        DPS_FREE(h->text);
        DPS_FREE(h->format);
        sfree(h);
    }
}

int postscript_print_heading(PrintState_t *state, int level, int drill, IList_t *texts, IList_t *formats,
                             IList_t *values)
{
    for (const PrintHeader_t *h = state->headings; h; h = h->next)
        if (h->level == level) {
            postscript_do_heading_lines(state, h->text, h->format, level, drill, texts, formats, values);
            return 1;
        }
    return 0;
}

void postscript_do_heading_lines(PrintState_t *state, const char *text, const char *format, int level, int drill,
                                 IList_t *texts, IList_t *formats, IList_t *values)
{
    std::vector<std::string> text_lines, format_lines;
    pair_lines(text, format, text_lines, format_lines);
    std::string line;
    for (std::size_t i = 0; i < text_lines.size(); ++i) {
        if (drill) {
            ilist_addselt(texts, text_lines[i].c_str(), DRILL_ITEM_SIZE, 0, nullptr);
            char *scaled = nullptr;
            stop_on(psprint_drill_conv_format(state, format_lines[i].c_str(), &scaled));
            ilist_addselt(formats, scaled, DRILL_ITEM_SIZE, 0, nullptr);
            sfree(scaled);
            ilist_addselt(values, "", DRILL_ITEM_SIZE, 0, nullptr);
            continue;
        }
        const int multi_lines = state->multi_line_count;
        stop_on(postscript_parse_format(format_lines[i].c_str(), state, static_cast<int>(text_lines[i].size())));
        const int size = postscript_apply_format_to_print_line(line, text_lines[i], state, 1, 0);
        postscript_free_format_line(state);
        // The first line of an empty page sits below the top margin; the footer never begins one.
        const bool new_page = level >= 0 && i == 0 && state->current_y > state->page_height - 1;
        postscript_place_line(state, line, size, new_page);
        postscript_multi_line_free_line_since(state, multi_lines);
    }
}

void postscript_place_line(PrintState_t *state, const std::string &line, int size, bool new_page)
{
    state->current_y -= new_page ? static_cast<float>(size + state->top_margin * POINTS_PER_CM)
                                 : static_cast<float>(size) * state->line_spacing;
    if (!state->page_set_up) {
        state->page_set_up = 1;
        postscript_write(state, first_page_set_up(state, line));
        return;
    }
    std::string out;
    out.reserve(line.size() + 16);
    ps_fixed(out, state->current_y, 1);
    out += " n ";
    out += line;
    out += '\n';
    postscript_write(state, out);
}
