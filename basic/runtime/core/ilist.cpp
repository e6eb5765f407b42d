// Program lists: the element chain, its position tree and name table, the operations and the
// ILIST_* intrinsics.
#include "ilist.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "applications.h"
#include "mem_mgt.h"
#include "message.h"
#include "numerics.h"
#include "structops.h"

IList_t *master_list;

// Elements that carry one name, in list order; the table's key views the first one's name.
struct IListNames_t {
    // Most names are carried once: the later carriers' vector is made only for a second one,
    // which keeps a list's per-name cost at a small node.
    struct Bucket {
        IListElt_t *first;
        std::unique_ptr<std::vector<IListElt_t *>> later;
        std::vector<IListElt_t *> &more()
        {
            if (!later) later = std::make_unique<std::vector<IListElt_t *>>();
            return *later;
        }
        bool single() const { return !later || later->empty(); }
    };
    std::unordered_map<std::string_view, Bucket> table;
};

namespace {

// The live lists, so that a handle is checked without walking the chain.
std::unordered_set<const IList_t *> &live_lists()
{
    static auto *lists = new std::unordered_set<const IList_t *>;  // outlives every exit path
    return *lists;
}

IList_t *checked(IList_t *list, const char *operation)
{
    if (!list || !live_lists().count(list))
        Abort("%s: No list exists with handle %p\n", operation, static_cast<void *>(list));
    return list;
}

double as_double(const dec_t *value)
{
    double d = 0;
    NumericToDBL(value, &d);
    return d;
}

int text_length(const char *text, int maxlen)
{
    if (!text || maxlen <= 0) return 0;
    return static_cast<int>(strnlen(text, static_cast<std::size_t>(maxlen)));
}

// A new NUL-terminated copy of n bytes, or nullptr when memory runs out.
char *copy_text(const char *text, int n)
{
    auto *copy = static_cast<char *>(DpsXmalloc(static_cast<std::size_t>(n) + 1));
    if (copy && n) std::memcpy(copy, text, static_cast<std::size_t>(n));
    return copy;
}

IListElt_t *new_element() { return static_cast<IListElt_t *>(DpsXmalloc(sizeof(IListElt_t))); }

// ---- Position tree -------------------------------------------------------------------------

std::uint32_t weight(const IListElt_t *e) { return e ? e->weight : 0; }
void pull(IListElt_t *e) { e->weight = 1 + weight(e->left) + weight(e->right); }

std::uint32_t next_priority()
{
    static std::uint32_t state = 0x9E3779B9u;
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void replace_child(IList_t *list, IListElt_t *parent, IListElt_t *old_child, IListElt_t *new_child)
{
    if (!parent)
        list->root = new_child;
    else if (parent->left == old_child)
        parent->left = new_child;
    else
        parent->right = new_child;
    if (new_child) new_child->up = parent;
}

// Lifts x above its parent, keeping the in-order sequence.
void rotate_up(IList_t *list, IListElt_t *x)
{
    IListElt_t *p = x->up;
    replace_child(list, p->up, p, x);
    if (p->left == x) {
        p->left = x->right;
        if (p->left) p->left->up = p;
        x->right = p;
    } else {
        p->right = x->left;
        if (p->right) p->right->up = p;
        x->left = p;
    }
    p->up = x;
    pull(p);
    pull(x);
}

// Puts e into the tree right after before (first when before is nullptr).
void tree_insert(IList_t *list, IListElt_t *e, IListElt_t *before)
{
    e->left = e->right = nullptr;
    e->weight = 1;
    e->priority = next_priority();
    IListElt_t *parent = nullptr;
    if (!list->root) {
        list->root = e;
        e->up = nullptr;
        return;
    }
    if (!before) {
        parent = list->root;
        while (parent->left) parent = parent->left;
        parent->left = e;
    } else if (!before->right) {
        parent = before;
        parent->right = e;
    } else {
        parent = before->right;
        while (parent->left) parent = parent->left;
        parent->left = e;
    }
    e->up = parent;
    for (IListElt_t *p = parent; p; p = p->up) ++p->weight;
    while (e->up && e->up->priority < e->priority) rotate_up(list, e);
}

void tree_remove(IList_t *list, IListElt_t *e)
{
    while (e->left && e->right) rotate_up(list, e->left->priority > e->right->priority ? e->left : e->right);
    IListElt_t *child = e->left ? e->left : e->right;
    IListElt_t *parent = e->up;
    replace_child(list, parent, e, child);
    for (IListElt_t *p = parent; p; p = p->up) --p->weight;
    e->up = e->left = e->right = nullptr;
}

// The element at position (1-based), or nullptr.
IListElt_t *at_position(const IList_t *list, int position)
{
    if (position < 1 || position > list->count) return nullptr;
    auto k = static_cast<std::uint32_t>(position);
    IListElt_t *e = list->root;
    while (e) {
        std::uint32_t left = weight(e->left);
        if (k <= left) {
            e = e->left;
        } else if (k == left + 1) {
            return e;
        } else {
            k -= left + 1;
            e = e->right;
        }
    }
    return nullptr;
}

int position_of(const IListElt_t *e)
{
    std::uint32_t r = weight(e->left) + 1;
    for (; e->up; e = e->up)
        if (e->up->right == e) r += weight(e->up->left) + 1;
    return static_cast<int>(r);
}

// ---- Name table ----------------------------------------------------------------------------

using Table = std::unordered_map<std::string_view, IListNames_t::Bucket>;

void rekey(Table &table, Table::iterator it)
{
    auto node = table.extract(it);
    node.key() = node.mapped().first->name;
    table.insert(std::move(node));
}

bool before_in_list(const IListElt_t *a, const IListElt_t *b) { return position_of(a) < position_of(b); }

// Enters e, already in the chain and the tree, under its name.
void names_add(IList_t *list, IListElt_t *e)
{
    if (!e->name) return;
    if (!list->names) list->names = new IListNames_t;
    Table &table = list->names->table;
    auto it = table.find(e->name);
    if (it == table.end()) {
        table.emplace(e->name, IListNames_t::Bucket{e, nullptr});
        return;
    }
    auto &b = it->second;
    if (e == list->tail) {  // the common case: appended
        b.more().push_back(e);
    } else if (before_in_list(e, b.first)) {
        b.more().insert(b.more().begin(), b.first);
        b.first = e;
        rekey(table, it);
    } else {
        auto &more = b.more();
        more.insert(std::lower_bound(more.begin(), more.end(), e, before_in_list), e);
    }
}

// Takes e, still in the chain and the tree, out of its name's entry.
void names_remove(IList_t *list, IListElt_t *e)
{
    if (!e->name || !list->names) return;
    Table &table = list->names->table;
    auto it = table.find(e->name);
    if (it == table.end()) return;
    auto &b = it->second;
    if (b.first == e) {
        if (b.single()) {
            table.erase(it);
            return;
        }
        b.first = b.later->front();
        b.later->erase(b.later->begin());
        rekey(table, it);
        return;
    }
    if (!b.later) return;
    auto &more = *b.later;
    auto pos = std::lower_bound(more.begin(), more.end(), e, before_in_list);
    if (pos != more.end() && *pos == e) more.erase(pos);
}

// The first element named name after position after, or nullptr.
IListElt_t *named(const IList_t *list, const char *name, int after = 0)
{
    if (!name || !list->names) return nullptr;
    const Table &table = list->names->table;
    auto it = table.find(name);
    if (it == table.end()) return nullptr;
    const auto &b = it->second;
    if (after < 1 || position_of(b.first) > after) return b.first;
    if (!b.later) return nullptr;
    auto pos = std::partition_point(b.later->begin(), b.later->end(),
                                    [after](const IListElt_t *e) { return position_of(e) <= after; });
    return pos == b.later->end() ? nullptr : *pos;
}

// ---- Elements ------------------------------------------------------------------------------

// Links a new element after before (first when before is nullptr) and indexes it.
void link_after(IList_t *list, IListElt_t *e, IListElt_t *before)
{
    e->prev = before;
    e->next = before ? before->next : list->head;
    if (e->next)
        e->next->prev = e;
    else
        list->tail = e;
    if (before)
        before->next = e;
    else
        list->head = e;
    ++list->count;
    tree_insert(list, e, before);
    names_add(list, e);
}

void link_end(IList_t *list, IListElt_t *e, int at_front) { link_after(list, e, at_front ? nullptr : list->tail); }

void free_element(const IList_t *list, IListElt_t *e)
{
    if (list->type & ILIST_STRING) std::free(e->value.text);
    std::free(e->name);
    std::free(e);
}

void unlink_element(IList_t *list, IListElt_t *e)
{
    names_remove(list, e);
    tree_remove(list, e);
    if (e->prev)
        e->prev->next = e->next;
    else
        list->head = e->next;
    if (e->next)
        e->next->prev = e->prev;
    else
        list->tail = e->prev;
    --list->count;
    free_element(list, e);
}

int remove_all(IList_t *list)
{
    int removed = list->count;
    for (IListElt_t *e = list->head; e;) {
        IListElt_t *next = e->next;
        free_element(list, e);
        e = next;
    }
    list->head = list->tail = list->root = nullptr;
    list->count = 0;
    delete list->names;
    list->names = nullptr;
    return removed;
}

// A new string element holding text cut as the maximum length says, for an add or an insert.
IListElt_t *string_element(const char *text, int maxlen, bool insert)
{
    int n = text_length(text, maxlen);
    const char *shown = text ? text : "";
    IListElt_t *e = new_element();
    if (!e) Abort("No memory to add list element metadata for %.*s", n, shown);
    e->value.text = copy_text(text, n);
    if (!e->value.text) {
        std::free(e);
        if (insert) Abort("No memory to insert string list element %.*s", n, shown);
        Abort("No memory to add string list element %.*s", n, shown);
    }
    return e;
}

void check_insert_position(const IList_t *list, int position)
{
    if (position < 0 || position > list->count)
        Abort("Position %d out of range when attempting to insert new list element", position);
}

IListElt_t *insert_point(const IList_t *list, int position) { return position == 0 ? nullptr : at_position(list, position); }

const char *kind_name(int type)
{
    if (type & ILIST_INTEGER) return "integer";
    if (type & ILIST_NUMERIC) return "numeric";
    return "string";
}

// The element a fetch or set reaches: by name when one is given, else by position.
IListElt_t *reach(IList_t *list, int position, const char *name)
{
    if (name) {
        IListElt_t *e = named(list, name);
        if (!e) Xerror(200, "No element named %s in %s list %p", name, kind_name(list->type), static_cast<void *>(list));
        return e;
    }
    IListElt_t *e = at_position(list, position);
    if (!e) Xerror(200, "No %d'th element in %s list %p", position, kind_name(list->type), static_cast<void *>(list));
    return e;
}

// The element a set works on, or nullptr when position 0 names an element that is not there yet.
IListElt_t *set_target(IList_t *list, int position, const char *name)
{
    if (position != 0 || !name) return reach(list, position, nullptr);
    return named(list, name);
}

// A new element carrying a copy of name, for a set to fill and append; nullptr when memory runs out.
IListElt_t *new_named_element(const char *name)
{
    IListElt_t *e = new_element();
    if (!e) return nullptr;
    e->name = copy_text(name, static_cast<int>(std::strlen(name)));
    if (!e->name) {
        std::free(e);
        return nullptr;
    }
    return e;
}

IListElt_t *positioned(IList_t *list, int position)
{
    IListElt_t *e = at_position(list, position);
    if (!e) Xerror(200, "No %d'th element in the list %p", position, static_cast<void *>(list));
    return e;
}

} // namespace

// ---- Operations ----------------------------------------------------------------------------

IList_t *ilist_declare(int type)
{
    auto *list = new (std::nothrow) IList_t{};
    if (!list) Abort("No memory to add new list metadata");
    list->type = type;
    list->next = master_list;
    if (master_list) master_list->prev = list;
    master_list = list;
    live_lists().insert(list);
    return list;
}

void ilist_addselt(IList_t *list, const char *text, int maxlen, int at_front, const char *name)
{
    checked(list, "ilist_addselt");
    int n = text_length(text, maxlen);
    const char *shown = text ? text : "";
    if (!(list->type & ILIST_STRING)) Abort("List is not a character string list - cannot add %.*s\n", n, shown);
    if ((list->type & ILIST_HASH) && !name)
        Abort("List is a character string hash - cannot add %.*s\n witout name provided (name argument is NULL", n,
              shown);
    IListElt_t *e = string_element(text, maxlen, false);
    if (name) {
        e->name = copy_text(name, static_cast<int>(std::strlen(name)));
        if (!e->name) {
            free_element(list, e);
            Abort("No memory to add list element metadata for %.*s", n, shown);
        }
    }
    link_end(list, e, at_front);
}

void ilist_addielt(IList_t *list, std::int64_t value, int at_front)
{
    checked(list, "ilist_addielt");
    long v = static_cast<long>(value);
    if (!(list->type & ILIST_INTEGER)) Abort("List is not an integer list - cannot add %ld\n", v);
    if (list->type & ILIST_HASH) Abort("List is an integer hash list - cannot add %ld\n", v);
    IListElt_t *e = new_element();
    if (!e) Abort("No memory to add integer list element metadata for %ld", v);
    e->value.integer = value;
    link_end(list, e, at_front);
}

void ilist_addnelt(IList_t *list, const dec_t *value, int at_front)
{
    checked(list, "ilist_addnelt");
    if (!(list->type & ILIST_NUMERIC)) Abort("List is not a numeric list - cannot add %f\n", as_double(value));
    if (list->type & ILIST_HASH) Abort("List is a numeric hash list - cannot add %f\n", as_double(value));
    IListElt_t *e = new_element();
    if (!e) Abort("No memory to add numeric list element metadata for %f\n", as_double(value));
    NumericCopy(&e->value.number, value);
    link_end(list, e, at_front);
}

void ilist_insertselt(IList_t *list, int position, const char *text, int maxlen)
{
    checked(list, "ilist_insertselt");
    int n = text_length(text, maxlen);
    const char *shown = text ? text : "";
    if (!(list->type & ILIST_STRING)) Abort("List is not a character string list - cannot insert %.*s\n", n, shown);
    if (list->type & ILIST_HASH) Abort("List is a character string hash - cannot insert %.*s\n", n, shown);
    check_insert_position(list, position);
    IListElt_t *e = string_element(text, maxlen, true);
    link_after(list, e, insert_point(list, position));
}

void ilist_insertielt(IList_t *list, int position, std::int64_t value)
{
    checked(list, "ilist_insertielt");
    long v = static_cast<long>(value);
    if (!(list->type & ILIST_INTEGER)) Abort("List is not an integer list - cannot add %ld\n", v);
    if (list->type & ILIST_HASH) Abort("List is an integer hash - cannot add %ld\n", v);
    check_insert_position(list, position);
    IListElt_t *e = new_element();
    if (!e) Abort("No memory to add integer list element metadata for %ld", v);
    e->value.integer = value;
    link_after(list, e, insert_point(list, position));
}

void ilist_insertnelt(IList_t *list, int position, const dec_t *value)
{
    checked(list, "ilist_insertnelt");
    if (!(list->type & ILIST_NUMERIC)) Abort("List is not a numeric list - cannot add %f\n", as_double(value));
    if (list->type & ILIST_HASH) Abort("List is a numeric hash list - cannot add %f\n", as_double(value));
    check_insert_position(list, position);
    IListElt_t *e = new_element();
    if (!e) Abort("No memory to add numeric list element metadata for %f\n", as_double(value));
    NumericCopy(&e->value.number, value);
    link_after(list, e, insert_point(list, position));
}

const char *ilist_sfetch(IList_t *list, int position, const char *name)
{
    checked(list, "ilist_sfetch");
    if (!(list->type & ILIST_STRING)) Abort("List is not a character string list\n");
    return reach(list, position, name)->value.text;
}

std::int64_t ilist_ifetch(IList_t *list, int position, const char *name)
{
    checked(list, "ilist_ifetch");
    if (!(list->type & ILIST_INTEGER)) Abort("List is not an integer list\n");
    return reach(list, position, name)->value.integer;
}

const dec_t *ilist_nfetch(IList_t *list, int position, const char *name)
{
    checked(list, "ilist_nfetch");
    if (!(list->type & ILIST_NUMERIC)) Abort("List is not a numeric list\n");
    return &reach(list, position, name)->value.number;
}

const char *ilist_fetchname(IList_t *list, int position)
{
    checked(list, "ilist_fetchname");
    return positioned(list, position)->name;
}

void ilist_setselt(IList_t *list, int position, const char *text, int maxlen, const char *name)
{
    checked(list, "ilist_setselt");
    int n = text_length(text, maxlen);
    const char *shown = text ? text : "";
    if (!(list->type & ILIST_STRING)) Abort("List is not a character string list - cannot add %.*s\n", n, shown);
    IListElt_t *e = set_target(list, position, name);
    char *copy = copy_text(text, n);
    if (!copy) Abort("No memory to add string list element %.*s", n, shown);
    if (e) {
        std::free(e->value.text);
        e->value.text = copy;
        return;
    }
    e = new_named_element(name);
    if (!e) {
        std::free(copy);
        Abort("No memory to add list element metadata for %.*s", n, shown);
    }
    e->value.text = copy;
    link_end(list, e, 0);
}

void ilist_setielt(IList_t *list, int position, std::int64_t value, const char *name)
{
    checked(list, "ilist_setielt");
    long v = static_cast<long>(value);
    if (!(list->type & ILIST_INTEGER)) Abort("List is not an integer list - cannot set %d %ld\n", position, v);
    if (IListElt_t *e = set_target(list, position, name)) {
        e->value.integer = value;
        return;
    }
    IListElt_t *e = new_named_element(name);
    if (!e) Abort("No memory to add integer list element metadata for %ld", v);
    e->value.integer = value;
    link_end(list, e, 0);
}

void ilist_setnelt(IList_t *list, int position, const dec_t *value, const char *name)
{
    checked(list, "ilist_setnelt");
    if (!(list->type & ILIST_NUMERIC)) Abort("List is not a numeric list - cannot set %d %f\n", position, as_double(value));
    if (IListElt_t *e = set_target(list, position, name)) {
        std::memmove(&e->value.number, value, sizeof(dec_t));  // value may be this element's own
        return;
    }
    IListElt_t *e = new_named_element(name);
    if (!e) Abort("No memory to add numeric list element metadata for %f\n", as_double(value));
    NumericCopy(&e->value.number, value);
    link_end(list, e, 0);
}

int ilist_setname(IList_t *list, int position, const char *name)
{
    checked(list, "ilist_setname");
    if (list->type & ILIST_HASH) Abort("List is a hash list - cannot set name to %s\n", name ? name : "");
    IListElt_t *e = positioned(list, position);
    char *copy = nullptr;
    if (name) {
        copy = copy_text(name, static_cast<int>(std::strlen(name)));
        if (!copy) Abort("No memory to add list element metadata for %s", name);
    }
    names_remove(list, e);
    std::free(e->name);
    e->name = copy;
    names_add(list, e);
    return position;
}

int ilist_getindex_after(IList_t *list, const char *name, int after)
{
    checked(list, "ilist_getindex_after");
    IListElt_t *e = named(list, name, after);
    return e ? position_of(e) : 0;
}

int ilist_getindex(IList_t *list, const char *name)
{
    checked(list, "ilist_getindex");
    IListElt_t *e = named(list, name);
    return e ? position_of(e) : 0;
}

int ilist_snsearch(IList_t *list, const char *text, int length)
{
    checked(list, "ilist_snsearch");
    if (!(list->type & ILIST_STRING)) Abort("Given list %p is not a string list", static_cast<void *>(list));
    if (length < 0) Abort("Length must be a positive number");
    if (!text) text = "";
    int position = 1;
    for (const IListElt_t *e = list->head; e; e = e->next, ++position) {
        bool equal = length == 0 ? std::strcmp(e->value.text, text) == 0
                                 : std::strncmp(e->value.text, text, static_cast<std::size_t>(length)) == 0;
        if (equal) return position;
    }
    return -1;
}

void ilist_deleteelt(IList_t *list, int position)
{
    checked(list, "ilist_deleteelt");
    IListElt_t *e = at_position(list, position);
    if (!e) Abort("Position %d out of range when attempting to delete a list element", position);
    unlink_element(list, e);
}

int ilist_clear(IList_t *list)
{
    checked(list, "ilist_clear");
    return remove_all(list);
}

void ilist_destroy(IList_t *list)
{
    checked(list, "ilist_destroy");
    remove_all(list);
    if (list->prev)
        list->prev->next = list->next;
    else
        master_list = list->next;
    if (list->next) list->next->prev = list->prev;
    live_lists().erase(list);
    delete list;
}

void ilist_destroyall()
{
    while (master_list) ilist_destroy(master_list);
}

int ilist_length(IList_t *list)
{
    return checked(list, "ilist_length")->count;
}

int ilist_type(IList_t *list)
{
    return list && live_lists().count(list) ? list->type : 0;
}

IList_t *ilist_clone(IList_t *list)
{
    checked(list, "ilist_clone");
    const int kinds = ILIST_STRING | ILIST_INTEGER | ILIST_NUMERIC;
    if (!(list->type & kinds)) Abort("Unknown list element type");
    IList_t *copy = ilist_declare(list->type);
    for (const IListElt_t *e = list->head; e; e = e->next) {
        IListElt_t *c = new_element();
        if (!c) Abort("No memory to add list element metadata for %s", e->name ? e->name : "");
        if (list->type & ILIST_STRING) {
            c->value.text = copy_text(e->value.text, static_cast<int>(std::strlen(e->value.text)));
            if (!c->value.text) {
                std::free(c);
                Abort("No memory to add string list element %s", e->value.text);
            }
        } else {
            c->value = e->value;
        }
        if (e->name) {
            c->name = copy_text(e->name, static_cast<int>(std::strlen(e->name)));
            if (!c->name) {
                free_element(copy, c);
                Abort("No memory to add list element metadata for %s", e->name);
            }
        }
        link_end(copy, c, 0);
    }
    return copy;
}

void ilist_cdump(IList_t *list, int with_elements)
{
    checked(list, "ilist_cdump");
    std::printf("List: Handle %p, nelts %d, flags 0x%X\n", static_cast<void *>(list), list->count,
                static_cast<unsigned>(list->type));
    if (with_elements) {
        int i = 1;
        for (const IListElt_t *e = list->head; e; e = e->next, ++i) {
            std::string label = e->name ? "[" + std::string(e->name) + "]=" : "";
            if (list->type & ILIST_STRING)
                std::printf("%8d: %s%s\n", i, label.c_str(), e->value.text);
            else if (list->type & ILIST_INTEGER)
                std::printf("%8d: %s%ld\n", i, label.c_str(), static_cast<long>(e->value.integer));
            else if (list->type & ILIST_NUMERIC)
                std::printf("%8d: %s%f\n", i, label.c_str(), as_double(&e->value.number));
            else
                std::printf("%8d: Unknown list element type!\n", i);
        }
    }
    std::fflush(stdout);
}

void ilist_cdumpall(int with_elements)
{
    if (!master_list) {
        std::printf("No Lists\n");
        std::fflush(stdout);
        return;
    }
    for (IList_t *list = master_list; list; list = list->next) ilist_cdump(list, with_elements);
}

void ilist_sort(IList_t *list, int)
{
    checked(list, "ilist_sort");
    Abort("ilist_sort by value not implemented yet\n");
}

// ---- Intrinsics ----------------------------------------------------------------------------

namespace {

std::string arg_text(const char *text, int length) { return std::string(text ? text : "", text_length(text, length)); }

// A key argument: an element name (position 0) or a position.
struct Key {
    int position = 0;
    std::string name;
    bool by_name = false;
    const char *name_or_none() const { return by_name ? name.c_str() : nullptr; }
};

Key key_of(const IListArg &arg, const char *refusal)
{
    Key key;
    if (arg.kind == IListArg::Text) {
        key.name = arg_text(arg.text, arg.length);
        key.by_name = true;
    } else if (arg.kind == IListArg::Number) {
        NumericToINT(arg.number, &key.position);
    } else {
        Abort("%s", refusal);
    }
    return key;
}

bool numeric_list(IList_t *list) { return (ilist_type(list) & ILIST_NUMERIC) != 0; }

std::int64_t as_long(const dec_t *number)
{
    long v = 0;
    NumericToLONG(number, &v);
    return v;
}

} // namespace

IList_t *intr_ilist_declare(const char *type_name, int length)
{
    static const struct {
        const char *name;
        int type;
    } types[] = {
        {"char", ILIST_STRING},
        {"int", ILIST_INTEGER},
        {"numeric", ILIST_NUMERIC},
        {"char_hash", ILIST_STRING | ILIST_HASH},
        {"int_hash", ILIST_INTEGER | ILIST_HASH},
        {"numeric_hash", ILIST_NUMERIC | ILIST_HASH},
    };
    std::string name = arg_text(type_name, length);
    int type = 0;
    for (const auto &t : types)
        if (name == t.name) type = t.type;
    if (!type) Abort("Bad arg to ilist_declare - %s", name.c_str());
    IList_t *list = ilist_declare(type);
    if (current_application && current_application->app)
        AppIlistAdd(current_application->app, APP_HANDLE_ILIST, reinterpret_cast<std::uintptr_t>(list),
                    current_application->name, src_line_number, src_file_index);
    return list;
}

void intr_ilist_destroy(IList_t *list)
{
    if (!list) return;
    ilist_destroy(list);
    // Forget it wherever it is tracked: a list may be destroyed by another application than the
    // one that declared it, and a stale record could later name a new list at the same address.
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (ap->app) AppIlistDel(ap->app, reinterpret_cast<std::uintptr_t>(list));
}

void intr_ilist_add(IList_t *list, const IListArg &value)
{
    if (value.kind == IListArg::Text)
        ilist_addselt(list, value.text, value.length, 0, nullptr);
    else if (value.kind != IListArg::Number)
        Abort("Second arg to ILIST_ADD not numeric or string\n");
    else if (numeric_list(list))
        ilist_addnelt(list, value.number, 0);
    else
        ilist_addielt(list, as_long(value.number), 0);
}

void intr_ilist_insert(IList_t *list, int position, const IListArg &value)
{
    if (value.kind == IListArg::Text)
        ilist_insertselt(list, position, value.text, value.length);
    else if (value.kind != IListArg::Number)
        Abort("Third arg to ILIST_INSERT not numeric or string\n");
    else if (numeric_list(list))
        ilist_insertnelt(list, position, value.number);
    else
        // 64 bits, as ILIST_ADD and ILIST_SET store an integer: cutting the number to 32 bits here
        // alone would insert another value than the same number added (5000000000 would wrap).
        ilist_insertielt(list, position, as_long(value.number));
}

void intr_ilist_delete(IList_t *list, int position) { ilist_deleteelt(list, position); }
int intr_ilist_clear(IList_t *list) { return ilist_clear(list); }
int intr_ilist_length(IList_t *list) { return ilist_length(list); }

std::int64_t intr_ilist_ifetch(IList_t *list, const IListArg &key)
{
    Key k = key_of(key, "Second arg to ILIST_IFETCH not numeric or string\n");
    return ilist_ifetch(list, k.position, k.name_or_none());
}

void intr_ilist_nfetch(IList_t *list, const IListArg &key, dec_t *result)
{
    Key k = key_of(key, "2nd argument to ILIST_NFETCH must be string or numeric\n");
    NumericCopy(result, ilist_nfetch(list, k.position, k.name_or_none()));
}

std::string intr_ilist_sfetch(IList_t *list, const IListArg &key)
{
    Key k = key_of(key, "Second argument to ILIST_SFETCH$ is neither a string or a number");
    return ilist_sfetch(list, k.position, k.name_or_none());
}

std::string intr_ilist_fetchname(IList_t *list, int position)
{
    const char *name = ilist_fetchname(list, position);
    return name ? name : " ";
}

std::string intr_ilist_type(IList_t *list)
{
    int type = ilist_type(list);
    if (type == 0) return " ";
    const char *kind = nullptr;
    switch (type & ~ILIST_HASH) {
    case ILIST_STRING: kind = "char"; break;
    case ILIST_INTEGER: kind = "int"; break;
    case ILIST_NUMERIC: kind = "numeric"; break;
    }
    if (!kind) {
        char text[32];
        std::snprintf(text, sizeof text, "unknown type %d", type);
        return text;
    }
    return std::string(kind) + (type & ILIST_HASH ? "_hash" : "");
}

void intr_ilist_set(IList_t *list, const IListArg &key, const IListArg &value)
{
    Key k = key_of(key, "Second arg to ILIST_SET must be string or numeric\n");
    if (value.kind == IListArg::Text)
        ilist_setselt(list, k.position, value.text, value.length, k.name_or_none());
    else if (value.kind != IListArg::Number)
        Abort("Second arg to ILIST_SET not numeric or string\n");
    else if (numeric_list(list))
        ilist_setnelt(list, k.position, value.number, k.name_or_none());
    else
        ilist_setielt(list, k.position, as_long(value.number), k.name_or_none());
}

int intr_ilist_setname(IList_t *list, int position, const char *name, int length)
{
    return ilist_setname(list, position, arg_text(name, length).c_str());
}

int intr_ilist_getindex(IList_t *list, const char *name, int length)
{
    return ilist_getindex(list, arg_text(name, length).c_str());
}

int intr_ilist_getindex_after(IList_t *list, const char *name, int length, long after)
{
    int from = static_cast<int>(std::clamp<long>(after, -1, INT32_MAX));
    return ilist_getindex_after(list, arg_text(name, length).c_str(), from);
}

int intr_ilist_ssearch(IList_t *list, const char *text, int length, long compare_length)
{
    int n = static_cast<int>(std::clamp<long>(compare_length, -1, INT32_MAX));
    return ilist_snsearch(list, arg_text(text, length).c_str(), n);
}

void intr_ilist_cdump(IList_t *list) { ilist_cdump(list, 1); }
void intr_ilist_cdumpall(int with_elements) { ilist_cdumpall(with_elements); }
void intr_ilist_sort(IList_t *list, int order) { ilist_sort(list, order); }

void intr_ilist_extext(IList_t *list, const void *reference)
{
    const char *text = text_field_text(reference, "ILIST_EXTEXT");
    const char *t = text ? text : "";
    ilist_addselt(list, t, static_cast<int>(std::strlen(t)), 0, nullptr);
}

void intr_ilist_settext(IList_t *list, const IListArg &key, const void *reference)
{
    Key k = key_of(key, "Second arg to ILIST_SETTEXT must be string or numeric\n");
    const char *text = text_field_text(reference, "ILIST_SETTEXT");
    const char *t = text ? text : "";
    ilist_setselt(list, k.position, t, static_cast<int>(std::strlen(t)), k.name_or_none());
}

void intr_ilist_totext(IList_t *list, const IListArg &key, void *reference)
{
    Key k = key_of(key, "Argument 2 in ILIST_TOTEXT must be string or numeric");
    text_field_text(reference, "ILIST_TOTEXT");  // an unknown old reference is refused first
    const char *text = ilist_sfetch(list, k.position, k.name_or_none());
    char *copy = copy_text(text, static_cast<int>(std::strlen(text)));
    if (!copy) Abort("No memory to copy ILIST entry to text entry");
    text_field_set(reference, copy, "ILIST_TOTEXT");
}
