// The menu screen's records: the definition list and its loader (seven elements per item: key
// path, menu type, row, description, colour, program, short cut), the tree it builds, the footer
// buttons, and freeing them.
#include "gmenu.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cutil.h"
#include "ilist.h"
#include "message.h"
#include "text_escape.h"

int menu_bg_no;

namespace {

constexpr int MENU_ITEM = 1, MENU_SUB_MENU = 2, MENU_LABEL = 3;
constexpr int NUMBER_CAP = 1000000;  // a longer number reads as this (beyond every bound)

bool digit(char c) { return c >= '0' && c <= '9'; }

// The leading decimal number of a text that begins with a digit.
int leading_number(std::string_view text)
{
    int n = 0;
    for (char c : text) {
        if (!digit(c)) break;
        if (n < NUMBER_CAP) n = n * 10 + (c - '0');
    }
    return n;
}

// A text read as a decimal integer as the C library reads it: leading white space and a sign, then
// digits; none gives 0.
int decimal(const std::string &text)
{
    const long n = std::strtol(text.c_str(), nullptr, 10);
    return n > INT_MAX ? INT_MAX : n < INT_MIN ? INT_MIN : static_cast<int>(n);
}

// Copies text into a field of size bytes, cut to size - 1.
template <std::size_t N> void copy_cut(char (&field)[N], std::string_view text)
{
    const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

void append(menu_item **first, menu_item *item)
{
    if (!*first) {
        *first = item;
        return;
    }
    menu_item *last = *first;
    while (last->next) last = last->next;
    last->next = item;
    item->prev = last;
}

menu_item *numbered(menu_item *first, int number)
{
    for (menu_item *i = first; i; i = i->next)
        if (i->number == number) return i;
    return nullptr;
}

// Hangs a new item in the tree by its keys.
void place(menu_data *v, menu_item *item)
{
    if (!v->root) {
        if (item->key_one != 0) Abort("First entry in file after the heading must be a first level menu item");
        v->root = item;
        return;
    }
    if (item->key_one == 0) {
        append(&v->root, item);
        return;
    }
    menu_item *top = numbered(v->root, item->key_one);
    if (!top)
        Abort("Second level menu %d.%d.%d, position %d has no parent", item->key_one, item->key_two, item->number,
              item->row);
    if (!top->children) {
        if (item->key_two != 0)
            Abort("Expecting first second level menu item while attempting to add menu %d.%d.%d, position %d",
                  item->key_one, item->key_two, item->number, item->row);
        item->parent = top;
        top->children = item;
        return;
    }
    if (item->key_two == 0) {
        item->parent = top;
        append(&top->children, item);
        return;
    }
    menu_item *middle = numbered(top->children, item->key_two);
    if (!middle)
        Abort("Third level menu %d.%d.%d, position %d has no parent", item->key_one, item->key_two, item->number,
              item->row);
    item->parent = middle;
    append(&middle->children, item);
}

void free_items(menu_item *item)
{
    while (item) {
        menu_item *next = item->next;
        free_items(item->children);
        g_free(item);
        item = next;
    }
}

void free_text(char *&text)
{
    g_free(text);
    text = nullptr;
}

} // namespace

std::string gmenu_trim(std::string_view text)
{
    std::size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return std::string(text.substr(0, end));
}

void gmenu_get_keys(int *key_one, int *key_two, int *key_three, int type, const char *path)
{
    *key_one = *key_two = *key_three = 0;
    const std::string_view whole(path);
    std::size_t start = 0;
    for (int component = 0;; ++component) {
        const std::size_t dot = whole.find('.', start);
        const std::string_view part = whole.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (part.empty() || !digit(part[0])) {
            if (whole.empty()) Abort("Menu keystroke must not be empty");
            Abort("Menu keystroke %s not numeric", path);
        }
        const int n = leading_number(part);
        switch (type) {
        case MENU_SUB_MENU:
            if (component == 2) Abort("Invalid Sub-Menu Keystroke Value %s encountered", path);
            if (component == 0) *key_three = n;
            else {
                *key_one = *key_three;
                *key_three = n;
            }
            break;
        case MENU_ITEM:
            if (component == 3) Abort("Invalid Menu Keystroke Value %s encountered", path);
            if (component == 0) *key_one = n;
            else if (component == 1) *key_three = n;
            else {
                *key_two = *key_three;
                *key_three = n;
            }
            break;
        case MENU_LABEL:
            if (component == 2) Abort("Invalid Menu-Label Keystroke Value %s encountered", path);
            if (component == 0) *key_one = n;
            else *key_two = n;
            break;
        default: Abort("Invalid Menu Type %d encountered", type);
        }
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (*key_one < 0 || *key_one > GMENU_MAX_KEY) Abort("Menu key one out of range %s", path);
    if (*key_two < 0 || *key_two > GMENU_MAX_KEY) Abort("Menu key two out of range %s", path);
    if (*key_three < 0 || *key_three > GMENU_MAX_KEY) Abort("Menu key three out of range %s", path);
}

void gmenu_fill_data_store(IList_t *list, menu_data *v)
{
    v->root = nullptr;
    const int count = ilist_length(list);
    for (int first = 1; first <= count; first += 7) {
        auto element = [&](int i) {
            const int position = first + i;
            return position <= count ? gmenu_trim(ilist_sfetch(list, position, nullptr)) : std::string();
        };
        const std::string path = element(0);
        const int type = decimal(element(1));
        const std::string row_text = element(2);
        if (row_text.empty() || !digit(row_text[0])) Abort("Menu row number %s not numeric", row_text.c_str());
        const int row = leading_number(row_text);
        if (row > GMENU_ROWS) Abort("Menu row number out of range %d", row);
        int k1, k2, k3;
        gmenu_get_keys(&k1, &k2, &k3, type, path.c_str());

        const std::string description = element(3), colour = element(4), program = element(5),
                          short_cut = element(6);
        if (description.size() > GMENU_DESCRIPTION) Abort("Menu description too long");
        if (colour.size() > 25) Abort("Menu colour too long");
        if (program.size() > 9) Abort("Menu program too long");
        if (short_cut.size() > 9)
            Abort("Menu shortcut too long (%d>9:|%s|)", static_cast<int>(short_cut.size()), short_cut.c_str());
        if (colour.size() != 1) Abort("Invalid menu colour '%s'", colour.c_str());
        if (colour[0] < 'A' || colour[0] > 'E') Abort("Menu colour '%s' invalid", colour.c_str());

        auto *item = static_cast<menu_item *>(g_malloc0(sizeof(menu_item)));
        item->key_one = k1;
        item->key_two = k2;
        item->number = k3;
        item->row = row;
        // Escaped whole: the field holds the longest escaped description, so no entity is split.
        copy_cut(item->description, fn_escape_string(description.substr(0, GMENU_DESCRIPTION)));
        cutil_sprintf(item->style, sizeof item->style, "Menu%cM%d", colour[0], menu_bg_no);
        copy_cut(item->program, program);
        copy_cut(item->short_cut, short_cut);
        copy_cut(item->key, path);
        try {
            place(v, item);
        } catch (...) {
            g_free(item);
            throw;
        }
    }
}

void gmenu_get_button_param(menu_button *b, const char *program, const char *count, const char *style, int type)
{
    b->type = type;
    b->program = g_strdup(program);
    b->count = g_strdup(count);
    b->style = g_strdup(*count && decimal(count) == 0 ? "ButtonNormal" : style);
}

void gmenu_set_buttons(menu_data *v, const MenuButtonTexts &t)
{
    struct {
        int type;
        const std::string *program;
        const std::string *count;
        const char *style;
    } const rows[GMENU_BUTTONS] = {
        {1, &t.project_view, nullptr, "ProjViewMenuTitleM"},
        {2, &t.incoming, &t.counts[0], "IncomingMenuButtonProblem"},
        {2, &t.incoming, &t.counts[1], "IncomingMenuButtonIssue"},
        {2, &t.incoming, &t.counts[2], "IncomingMenuButtonOk"},
        {3, &t.tarvel, &t.counts[3], "TarvelMenuButtonProblem"},
        {3, &t.tarvel, &t.counts[4], "TarvelMenuButtonIssue"},
        {3, &t.tarvel, &t.counts[5], "TarvelMenuButtonOk"},
    };
    for (int i = 0; i < GMENU_BUTTONS; ++i) {
        menu_button &b = v->buttons[i];
        free_text(b.program);
        free_text(b.count);
        free_text(b.style);
        gmenu_get_button_param(&b, rows[i].program->c_str(), rows[i].count ? rows[i].count->c_str() : "",
                               rows[i].style, rows[i].type);
    }
    v->buttons_end = 0;
}

void gmenu_delete_data_store(menu_data *v)
{
    free_items(v->root);
    v->root = nullptr;
    for (menu_button &b : v->buttons) {
        free_text(b.program);
        free_text(b.count);
        free_text(b.style);
    }
    free_text(v->code);
    free_text(v->title);
    free_text(v->site);
    free_text(v->logo);
}

menu_item *gmenu_selected_top(const menu_data *v)
{
    menu_item *last = nullptr;
    for (menu_item *i = v->root; i; i = i->next) {
        if (i->selected) return i;
        last = i;
    }
    return last;
}

ControlMatrix_t *gmenu_cm()
{
    ControlMatrix_t *first = global_data->first_cm;
    return first && first->type == CM_WT_MENU ? first : nullptr;
}

menu_data *gmenu_data(ControlMatrix_t *cm)
{
    return static_cast<menu_data *>(cm->window_data);
}
