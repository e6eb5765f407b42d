// The zoom pick-list's list model: every row's answer and column texts kept in one block, and a
// GzoomRow made only for a row that the list shows or a caller asks for. A list of 100,000 rows
// thus holds its texts and a pointer per row rather than an object and four allocations per row;
// the list draws only the rows in view. See gzoom.h.
#include "gzoom.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "ilist.h"

namespace {

struct RowsTable {
    unsigned columns = 0;
    int markup = 0;
    std::string text;                    // per row: answer, then each column, each with its terminator
    std::vector<const char *> answers;   // where each row starts (its answer) in text
    std::vector<guint32> colours;        // 0xRRGGBB per row; empty when every row is white
    std::unordered_map<guint, GzoomRow *> live;  // rows handed out and not yet finalized
};

} // namespace

struct _GzoomRows {
    GObject parent_instance;
    RowsTable *table;
};

namespace {

void gzoom_rows_model_init(GListModelInterface *iface);

} // namespace

G_DEFINE_FINAL_TYPE_WITH_CODE(GzoomRows, gzoom_rows, G_TYPE_OBJECT,
                              G_IMPLEMENT_INTERFACE(G_TYPE_LIST_MODEL, gzoom_rows_model_init))

namespace {

// A handed-out row went: it is made afresh when asked for again.
void forget_row(gpointer model, GObject *gone)
{
    auto &live = GZOOM_ROWS(model)->table->live;
    for (auto it = live.begin(); it != live.end(); ++it)
        if (G_OBJECT(it->second) == gone) {
            live.erase(it);
            return;
        }
}

GType get_item_type(GListModel *) { return GZOOM_TYPE_ROW; }

guint get_n_items(GListModel *model) { return static_cast<guint>(GZOOM_ROWS(model)->table->answers.size()); }

// The row at position: the one handed out before while anyone holds it, so that what a cell or a
// caller set on it stays; else a new row object from the texts.
gpointer get_item(GListModel *model, guint position)
{
    RowsTable *t = GZOOM_ROWS(model)->table;
    if (position >= t->answers.size()) return nullptr;
    if (const auto it = t->live.find(position); it != t->live.end()) return g_object_ref(it->second);
    GzoomRow *row = gzoom_row_new(t->columns, t->markup);
    const guint32 c = t->colours.empty() ? 0xffffffu : t->colours[position];
    gzoom_row_set_bg_color(row, static_cast<int>((c >> 16) & 0xff), static_cast<int>((c >> 8) & 0xff),
                           static_cast<int>(c & 0xff));
    const char *p = t->answers[position];
    gzoom_row_set_answer(row, p);
    for (unsigned i = 0; i < t->columns; ++i) {
        p += std::strlen(p) + 1;
        gzoom_row_set_column(row, i, p);
    }
    t->live.emplace(position, row);
    g_object_weak_ref(G_OBJECT(row), forget_row, model);
    return row;
}

void gzoom_rows_model_init(GListModelInterface *iface)
{
    iface->get_item_type = get_item_type;
    iface->get_n_items = get_n_items;
    iface->get_item = get_item;
}

void gzoom_rows_finalize(GObject *object)
{
    GzoomRows *self = GZOOM_ROWS(object);
    for (const auto &[position, row] : self->table->live) g_object_weak_unref(G_OBJECT(row), forget_row, self);
    delete self->table;
    G_OBJECT_CLASS(gzoom_rows_parent_class)->finalize(object);
}

} // namespace

static void gzoom_rows_class_init(GzoomRowsClass *klass) { G_OBJECT_CLASS(klass)->finalize = gzoom_rows_finalize; }

static void gzoom_rows_init(GzoomRows *self) { self->table = new RowsTable; }

GzoomRows *gzoom_rows_new(IList_t *display, IList_t *answers, const std::vector<GzoomColour> *colours, unsigned columns,
                          int markup)
{
    GzoomRows *self = GZOOM_ROWS(g_object_new(GZOOM_TYPE_ROWS, nullptr));
    RowsTable *t = self->table;
    t->columns = columns;
    t->markup = markup;
    // One walk over the program's lists, each text copied once into the block (the lists are long
    // chains: a second walk would fetch every element and text again); the row starts become
    // pointers once the block has its final place.
    std::vector<std::size_t> starts;
    const IListElt_t *shown = display ? display->head : nullptr, *answer = answers ? answers->head : nullptr;
    const auto put = [t](const IListElt_t *e) {
        const char *s = e && e->value.text ? e->value.text : "";
        t->text.append(s, std::strlen(s) + 1);
    };
    while (shown && columns) {
        starts.push_back(t->text.size());
        put(answer);
        if (answer) answer = answer->next;
        for (unsigned c = 0; c < columns; ++c) {
            put(shown);
            if (shown) shown = shown->next;
        }
    }
    t->text.shrink_to_fit();
    t->answers.reserve(starts.size());
    for (std::size_t start : starts) t->answers.push_back(t->text.data() + start);
    if (colours) {
        t->colours.reserve(starts.size());
        for (std::size_t r = 0; r < starts.size(); ++r) {
            const GzoomColour k = r < colours->size() ? (*colours)[r] : GzoomColour{};
            t->colours.push_back(static_cast<guint32>((k.r & 0xff) << 16 | (k.g & 0xff) << 8 | (k.b & 0xff)));
        }
    }
    return self;
}

const std::vector<const char *> &gzoom_rows_answers(GzoomRows *rows) { return rows->table->answers; }
