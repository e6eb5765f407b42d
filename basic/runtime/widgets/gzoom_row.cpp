// The rows of the zoom pick-list's list store, the class naming their colour, and the rules that
// choose a row from an answer or from type-ahead text. See gzoom.h.
#include "gzoom.h"

#include <cstring>

G_DEFINE_FINAL_TYPE(GzoomRow, gzoom_row, G_TYPE_OBJECT)

namespace {

void gzoom_row_finalize(GObject *object)
{
    GzoomRow *row = GZOOM_ROW(object);
    for (unsigned i = 0; i < row->column_count; ++i) g_free(row->columns[i]);
    g_free(row->columns);
    g_free(row->answer);
    G_OBJECT_CLASS(gzoom_row_parent_class)->finalize(object);
}

} // namespace

static void gzoom_row_class_init(GzoomRowClass *klass) { G_OBJECT_CLASS(klass)->finalize = gzoom_row_finalize; }

static void gzoom_row_init(GzoomRow *row) { row->answer = g_strdup(""); }

GzoomRow *gzoom_row_new(unsigned column_count, int markup)
{
    GzoomRow *row = GZOOM_ROW(g_object_new(GZOOM_TYPE_ROW, nullptr));
    row->column_count = column_count;
    row->columns = g_new0(char *, column_count ? column_count : 1);
    row->markup = markup;
    return row;
}

void gzoom_row_set_bg_color(GzoomRow *row, int r, int g, int b)
{
    row->r = r;
    row->g = g;
    row->b = b;
}

void gzoom_row_set_column(GzoomRow *row, unsigned index, const char *text)
{
    if (index >= row->column_count) return;
    g_free(row->columns[index]);
    row->columns[index] = g_strdup(text);
}

void gzoom_row_set_answer(GzoomRow *row, const char *answer)
{
    g_free(row->answer);
    row->answer = g_strdup(answer ? answer : "");
}

std::string gzoom_bg_class(int r, int g, int b)
{
    char name[3 + 3 * 8 + 1];
    g_snprintf(name, sizeof name, "bg_%x%x%x", static_cast<unsigned>(r), static_cast<unsigned>(g),
               static_cast<unsigned>(b));
    return name;
}

int gzoom_initial_row(const std::vector<const char *> &answers, const char *initial, int matching)
{
    const std::size_t length = std::strlen(initial);
    int chosen = -1, first = -1;
    long best = -1;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const char *answer = answers[i] ? answers[i] : "";
        if (!*answer) continue;
        if (first < 0) first = static_cast<int>(i);
        if (matching == 1) {
            // Shared leading characters, the terminator counting as one: an exact match beats an
            // answer that merely begins with the initial one.
            long shared = 0;
            while (answer[shared] && answer[shared] == initial[shared]) ++shared;
            if (!answer[shared] && !initial[shared]) ++shared;
            if (shared > best) {
                best = shared;
                chosen = static_cast<int>(i);
            }
        } else if (std::strncmp(answer, initial, length) >= 0) {
            return static_cast<int>(i);
        }
    }
    return matching == 1 ? chosen : first;
}

int gzoom_typeahead_row(const std::vector<const char *> &answers, const char *text, int matching)
{
    const std::size_t n = std::strlen(text);
    int chosen = 0;
    std::size_t best = 0;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const char *answer = answers[i] ? answers[i] : "";
        if (matching == 1) {
            std::size_t shared = 0;
            while (shared < n && answer[shared] && g_ascii_tolower(answer[shared]) == g_ascii_tolower(text[shared]))
                ++shared;
            if (shared > best) {
                best = shared;
                chosen = static_cast<int>(i);
            }
            if (shared == n) break;
        } else if (g_ascii_strcasecmp(answer, text) >= 0) {
            return static_cast<int>(i);
        }
    }
    return chosen;
}

void gzoom_typeahead_add(char *text, int character)
{
    std::size_t length = std::strlen(text);
    if (length >= GZOOM_TYPEAHEAD) length = GZOOM_TYPEAHEAD - 1;
    text[length] = g_ascii_toupper(static_cast<char>(character));
    text[length + 1] = '\0';
}
