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

// Under the address sanitizer, pieces that are not in use are poisoned, so that a caller keeping an
// element or a text past its removal is caught as it would be with heap blocks of their own.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ILIST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ILIST_ASAN 1
#endif
#ifdef ILIST_ASAN
#include <sanitizer/asan_interface.h>
#define ILIST_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define ILIST_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define ILIST_POISON(p, n) ((void)(p), (void)(n))
#define ILIST_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

// Pieces of up to LARGEST bytes, in classes of GRAIN bytes, cut from blocks that grow from
// FIRST_BLOCK to LAST_BLOCK bytes; a piece given back waits on its class's free list for the
// next one. A list's elements and most of its texts are a few dozen bytes each: a heap block of
// their own would cost the allocator's header and rounding on every one of them.
class Pieces {
public:
    static constexpr std::size_t GRAIN = 8;
    static constexpr std::size_t LARGEST = 64;

    Pieces() = default;
    Pieces(const Pieces &) = delete;
    Pieces &operator=(const Pieces &) = delete;
    ~Pieces()
    {
        while (blocks_) {
            Block *next = blocks_->next;
            std::free(blocks_);
            blocks_ = next;
        }
    }

    // bytes (1 to LARGEST) of storage, nullptr when memory runs out.
    void *take(std::size_t bytes)
    {
        const std::size_t c = class_of(bytes);
        const std::size_t size = (c + 1) * GRAIN;
        if (Free *f = free_[c]) {
            ILIST_UNPOISON(f, size);
            free_[c] = f->next;
            return f;
        }
        if (left_ < size && !grow()) return nullptr;
        void *piece = cursor_;
        cursor_ += size;
        left_ -= size;
        ILIST_UNPOISON(piece, size);
        return piece;
    }

    void give(void *piece, std::size_t bytes)
    {
        const std::size_t c = class_of(bytes);
        free_[c] = new (piece) Free{free_[c]};
        ILIST_POISON(piece, (c + 1) * GRAIN);
    }

private:
    static constexpr std::size_t FIRST_BLOCK = 512;
    static constexpr std::size_t LAST_BLOCK = 256 * 1024;
    struct alignas(std::max_align_t) Block {
        Block *next;
    };
    struct Free {
        Free *next;
    };

    static std::size_t class_of(std::size_t bytes) { return (bytes + GRAIN - 1) / GRAIN - 1; }

    bool grow()
    {
        auto *block = static_cast<Block *>(std::malloc(next_block_));
        if (!block) return false;
        block->next = blocks_;
        blocks_ = block;
        cursor_ = reinterpret_cast<char *>(block + 1);
        left_ = next_block_ - sizeof(Block);
        ILIST_POISON(cursor_, left_);
        next_block_ = std::min(next_block_ * 2, LAST_BLOCK);
        return true;
    }

    Free *free_[LARGEST / GRAIN] = {};
    Block *blocks_ = nullptr;
    char *cursor_ = nullptr;
    std::size_t left_ = 0;
    std::size_t next_block_ = FIRST_BLOCK;
};

// An open table (linear probing, no tombstones) of the first element carrying each name, with a
// byte of each slot's name hash beside it so that a probe reads a name only when that byte
// matches. The elements after the first that carry a name are kept, in list order, in a map
// of their own: most names are carried once, and those cost the table's slot alone.
class NameTable {
public:
    using Later = std::unordered_map<std::string_view, std::vector<IListElt_t *>>;

    IListElt_t *first(std::string_view name) const
    {
        const std::size_t s = slot_of(name, hash(name));
        return s == NONE ? nullptr : slots_[s];
    }

    // Enters e, whose name is in no slot yet.
    void put(IListElt_t *e)
    {
        if ((used_ + 1) * 4 > slots_.size() * 3) resize(slots_.empty() ? 16 : slots_.size() * 2);
        place(e, hash(e->name));
        ++used_;
    }

    // e, carrying the name of the slot's element, becomes its first carrier.
    void replace(IListElt_t *old_first, IListElt_t *e) { slots_[slot_holding(old_first)] = e; }

    void erase(IListElt_t *e)
    {
        std::size_t hole = slot_holding(e);
        const std::size_t mask = slots_.size() - 1;
        // Entries after the hole move back into it unless their home lies after it (cyclically).
        for (std::size_t i = (hole + 1) & mask; tags_[i]; i = (i + 1) & mask) {
            const std::size_t home = hash(slots_[i]->name) & mask;
            if (((i - home) & mask) >= ((i - hole) & mask)) {
                slots_[hole] = slots_[i];
                tags_[hole] = tags_[i];
                hole = i;
            }
        }
        slots_[hole] = nullptr;
        tags_[hole] = 0;
        --used_;
    }

    Later later;  // keyed by a view of the first carrier's name

private:
    static constexpr std::size_t NONE = static_cast<std::size_t>(-1);

    static std::size_t hash(std::string_view name) { return std::hash<std::string_view>{}(name); }
    static std::uint8_t tag_of(std::size_t h) { return static_cast<std::uint8_t>(0x80 | (h >> (8 * sizeof h - 7))); }

    std::size_t slot_of(std::string_view name, std::size_t h) const
    {
        if (slots_.empty()) return NONE;
        const std::size_t mask = slots_.size() - 1;
        const std::uint8_t tag = tag_of(h);
        for (std::size_t i = h & mask; tags_[i]; i = (i + 1) & mask)
            if (tags_[i] == tag && slots_[i]->name == name) return i;
        return NONE;
    }

    std::size_t slot_holding(const IListElt_t *e) const
    {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = hash(e->name) & mask;
        while (slots_[i] != e) i = (i + 1) & mask;
        return i;
    }

    void place(IListElt_t *e, std::size_t h)
    {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        while (tags_[i]) i = (i + 1) & mask;
        slots_[i] = e;
        tags_[i] = tag_of(h);
    }

    void resize(std::size_t size)
    {
        std::vector<IListElt_t *> old = std::move(slots_);
        slots_.assign(size, nullptr);
        tags_.assign(size, 0);
        for (IListElt_t *e : old)
            if (e) place(e, hash(e->name));
    }

    std::vector<IListElt_t *> slots_;
    std::vector<std::uint8_t> tags_;
    std::size_t used_ = 0;
};

} // namespace

struct IListStore_t {
    Pieces pieces;
    NameTable names;
    std::size_t heap_texts = 0;  // texts too long for a piece, each a heap block
    // Texts carried by more than one element, with the number of carriers beyond the first: an
    // element appended with the same text as the last one shares it (appended_text).
    std::unordered_map<const char *, std::uint32_t> shared;
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

// ---- Storage -------------------------------------------------------------------------------

static_assert(sizeof(IListElt_t) <= Pieces::LARGEST, "an element is one piece");

IListStore_t &store(IList_t *list)
{
    if (!list->store) list->store = new (std::nothrow) IListStore_t;
    if (!list->store) Abort("No memory to add new list metadata");
    return *list->store;
}

// A new element, zero-filled, or nullptr when memory runs out.
IListElt_t *new_element(IList_t *list)
{
    void *piece = store(list).pieces.take(sizeof(IListElt_t));
    return piece ? new (piece) IListElt_t{} : nullptr;
}

dec_t *new_number(IList_t *list) { return static_cast<dec_t *>(store(list).pieces.take(sizeof(dec_t))); }

// A copy of n bytes and a NUL held by the list, or nullptr when memory runs out. Texts too long
// for a piece are heap blocks, counted so that a list without any is freed without a walk.
char *list_text(IList_t *list, const char *text, int n)
{
    IListStore_t &s = store(list);
    const auto size = static_cast<std::size_t>(n) + 1;
    char *copy = nullptr;
    if (size <= Pieces::LARGEST) {
        copy = static_cast<char *>(s.pieces.take(size));
    } else {
        copy = static_cast<char *>(std::malloc(size));
        if (copy) ++s.heap_texts;
    }
    if (!copy) return nullptr;
    if (n) std::memcpy(copy, text, size - 1);
    copy[n] = '\0';
    return copy;
}

// The text of an element appended at the end of a string list: the last element's own when it is
// the same, else a new copy. Lists made from documents repeat the same few texts in long runs
// (a DIN, a context's name, "true"), and each run is then held once.
char *appended_text(IList_t *list, const char *text, int n)
{
    char *last = list->tail ? list->tail->value.text : nullptr;
    const auto size = static_cast<std::size_t>(n);
    if (last && std::strlen(last) == size && (n == 0 || std::memcmp(last, text, size) == 0)) {
        ++store(list).shared[last];
        return last;
    }
    return list_text(list, text, n);
}

// A text has no NUL before its end, so its length tells where list_text took it from.
bool heap_text(const char *text) { return std::strlen(text) + 1 > Pieces::LARGEST; }

void drop_text(IList_t *list, char *text)
{
    if (!text) return;
    auto &shared = list->store->shared;
    if (!shared.empty()) {
        const auto it = shared.find(text);
        if (it != shared.end()) {  // another element still carries it
            if (--it->second == 0) shared.erase(it);
            return;
        }
    }
    if (heap_text(text)) {
        std::free(text);
        --list->store->heap_texts;
    } else {
        list->store->pieces.give(text, std::strlen(text) + 1);
    }
}

// ---- Position index ------------------------------------------------------------------------

// Consecutive elements of the chain: first and the count - 1 after it. The runs are the nodes of
// a treap keyed by position whose weights count elements, so that a position is found in
// O(log n) steps down the tree and at most RUN_MAX along the chain, for a fraction of the space
// that a tree node in every element would take.
constexpr std::uint32_t RUN_MAX = 32;

} // namespace

struct IListRun_t {
    IListElt_t *first;
    IListRun_t *up;
    IListRun_t *left;
    IListRun_t *right;
    std::uint32_t count;
    std::uint32_t weight;  // the elements of its subtree
    std::uint32_t priority;
};

namespace {

static_assert(sizeof(IListRun_t) <= Pieces::LARGEST, "a run is one piece");

std::uint32_t weight(const IListRun_t *r) { return r ? r->weight : 0; }
void pull(IListRun_t *r) { r->weight = r->count + weight(r->left) + weight(r->right); }

// Adds delta (which may wrap, as a difference) to the weights from r up to the root.
void add_weight(IListRun_t *r, std::uint32_t delta)
{
    for (; r; r = r->up) r->weight += delta;
}

std::uint32_t next_priority()
{
    static std::uint32_t state = 0x9E3779B9u;
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void replace_child(IList_t *list, IListRun_t *parent, IListRun_t *old_child, IListRun_t *new_child)
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
void rotate_up(IList_t *list, IListRun_t *x)
{
    IListRun_t *p = x->up;
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

// Puts r, its count set, into the tree right after before (first when before is nullptr).
void run_insert(IList_t *list, IListRun_t *r, IListRun_t *before)
{
    r->left = r->right = nullptr;
    r->weight = r->count;
    r->priority = next_priority();
    IListRun_t *parent = nullptr;
    if (!list->root) {
        list->root = r;
        r->up = nullptr;
        return;
    }
    if (!before) {
        parent = list->root;
        while (parent->left) parent = parent->left;
        parent->left = r;
    } else if (!before->right) {
        parent = before;
        parent->right = r;
    } else {
        parent = before->right;
        while (parent->left) parent = parent->left;
        parent->left = r;
    }
    r->up = parent;
    add_weight(parent, r->count);
    while (r->up && r->up->priority < r->priority) rotate_up(list, r);
}

void run_remove(IList_t *list, IListRun_t *r)
{
    while (r->left && r->right) rotate_up(list, r->left->priority > r->right->priority ? r->left : r->right);
    IListRun_t *child = r->left ? r->left : r->right;
    IListRun_t *parent = r->up;
    replace_child(list, parent, r, child);
    add_weight(parent, 0u - r->count);
}

IListRun_t *new_run(IList_t *list, IListElt_t *first, std::uint32_t count)
{
    void *piece = store(list).pieces.take(sizeof(IListRun_t));
    if (!piece) Abort("No memory to add list element metadata");
    auto *r = new (piece) IListRun_t{};
    r->first = first;
    r->count = count;
    for (IListElt_t *e = first; count--; e = e->next) e->run = r;
    return r;
}

// A run grown past RUN_MAX by e: when e is its last element (the common case, an append) e
// starts a run of its own, so that appends leave full runs; else the run is halved.
void split_run(IList_t *list, IListRun_t *r, const IListElt_t *e)
{
    const bool last = !e->next || e->next->run != r;
    const std::uint32_t keep = last ? r->count - 1 : r->count / 2;
    IListElt_t *start = r->first;
    for (std::uint32_t i = 0; i < keep; ++i) start = start->next;
    const std::uint32_t moved = r->count - keep;
    add_weight(r, 0u - moved);
    r->count = keep;
    run_insert(list, new_run(list, start, moved), r);
}

// Indexes e, just linked into the chain after before (first when before is nullptr).
void index_element(IList_t *list, IListElt_t *e, IListElt_t *before)
{
    IListRun_t *r = before ? before->run : e->next ? e->next->run : nullptr;
    if (!r) {
        run_insert(list, new_run(list, e, 1), nullptr);
        return;
    }
    e->run = r;
    if (!before) r->first = e;
    ++r->count;
    add_weight(r, 1);
    if (r->count > RUN_MAX) split_run(list, r, e);
}

// Takes e, still in the chain, out of the index.
void unindex_element(IList_t *list, IListElt_t *e)
{
    IListRun_t *r = e->run;
    if (r->first == e) r->first = e->next;  // in the run unless e was its only element
    --r->count;
    add_weight(r, 0u - 1u);
    if (!r->count) {
        run_remove(list, r);
        list->store->pieces.give(r, sizeof(IListRun_t));
    }
    e->run = nullptr;
}

// The element at position (1-based), or nullptr.
IListElt_t *at_position(const IList_t *list, int position)
{
    if (position < 1 || position > list->count) return nullptr;
    auto k = static_cast<std::uint32_t>(position);
    const IListRun_t *r = list->root;
    while (r) {
        const std::uint32_t left = weight(r->left);
        if (k <= left) {
            r = r->left;
            continue;
        }
        k -= left;
        if (k <= r->count) {
            IListElt_t *e = r->first;
            while (--k) e = e->next;
            return e;
        }
        k -= r->count;
        r = r->right;
    }
    return nullptr;
}

int position_of(const IListElt_t *e)
{
    const IListRun_t *r = e->run;
    std::uint32_t p = weight(r->left) + 1;
    for (const IListElt_t *x = r->first; x != e; x = x->next) ++p;
    for (; r->up; r = r->up)
        if (r->up->right == r) p += weight(r->up->left) + r->up->count;
    return static_cast<int>(p);
}

// ---- Name table ----------------------------------------------------------------------------

bool before_in_list(const IListElt_t *a, const IListElt_t *b) { return position_of(a) < position_of(b); }

// The later carriers' entry is keyed by a view of the first carrier's name: it follows a new first.
void rekey(NameTable::Later &later, NameTable::Later::iterator it, const IListElt_t *first)
{
    auto node = later.extract(it);
    node.key() = first->name;
    later.insert(std::move(node));
}

// Enters e, already in the chain and the tree, under its name.
void names_add(IList_t *list, IListElt_t *e)
{
    if (!e->name) return;
    NameTable &table = store(list).names;
    IListElt_t *first = table.first(e->name);
    if (!first) {
        table.put(e);
        return;
    }
    auto it = table.later.find(e->name);
    if (e == list->tail) {  // the common case: appended
        if (it == table.later.end()) it = table.later.try_emplace(first->name).first;
        it->second.push_back(e);
    } else if (before_in_list(e, first)) {
        table.replace(first, e);
        if (it == table.later.end()) it = table.later.try_emplace(first->name).first;
        it->second.insert(it->second.begin(), first);
        rekey(table.later, it, e);
    } else {
        if (it == table.later.end()) it = table.later.try_emplace(first->name).first;
        auto &more = it->second;
        more.insert(std::lower_bound(more.begin(), more.end(), e, before_in_list), e);
    }
}

// Takes e, still in the chain and the tree, out of its name's entry.
void names_remove(IList_t *list, IListElt_t *e)
{
    if (!e->name || !list->store) return;
    NameTable &table = list->store->names;
    IListElt_t *first = table.first(e->name);
    if (!first) return;
    auto it = table.later.find(e->name);
    if (first == e) {
        if (it == table.later.end()) {
            table.erase(e);
            return;
        }
        IListElt_t *next = it->second.front();
        table.replace(e, next);
        it->second.erase(it->second.begin());
        if (it->second.empty())
            table.later.erase(it);
        else
            rekey(table.later, it, next);
        return;
    }
    if (it == table.later.end()) return;
    auto &more = it->second;
    auto pos = std::lower_bound(more.begin(), more.end(), e, before_in_list);
    if (pos != more.end() && *pos == e) more.erase(pos);
    if (more.empty()) table.later.erase(it);
}

// The first element named name after position after, or nullptr.
IListElt_t *named(const IList_t *list, const char *name, int after = 0)
{
    if (!name || !list->store) return nullptr;
    const NameTable &table = list->store->names;
    IListElt_t *first = table.first(name);
    if (!first) return nullptr;
    if (after < 1 || position_of(first) > after) return first;
    auto it = table.later.find(name);
    if (it == table.later.end()) return nullptr;
    const auto &more = it->second;
    auto pos = std::partition_point(more.begin(), more.end(),
                                    [after](const IListElt_t *e) { return position_of(e) <= after; });
    return pos == more.end() ? nullptr : *pos;
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
    index_element(list, e, before);
    names_add(list, e);
}

void link_end(IList_t *list, IListElt_t *e, int at_front) { link_after(list, e, at_front ? nullptr : list->tail); }

void free_element(IList_t *list, IListElt_t *e)
{
    if (list->type & ILIST_STRING) drop_text(list, e->value.text);
    if ((list->type & ILIST_NUMERIC) && e->value.number) list->store->pieces.give(e->value.number, sizeof(dec_t));
    drop_text(list, e->name);
    list->store->pieces.give(e, sizeof(IListElt_t));
}

void unlink_element(IList_t *list, IListElt_t *e)
{
    names_remove(list, e);
    unindex_element(list, e);
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

// The pieces go with the list's storage; only texts too long for one are freed one by one.
int remove_all(IList_t *list)
{
    int removed = list->count;
    if (list->store && list->store->heap_texts) {
        for (IListElt_t *e = list->head; e; e = e->next) {
            if ((list->type & ILIST_STRING) && heap_text(e->value.text)) drop_text(list, e->value.text);
            if (e->name && heap_text(e->name)) drop_text(list, e->name);
        }
    }
    list->head = list->tail = nullptr;
    list->root = nullptr;
    list->count = 0;
    delete list->store;
    list->store = nullptr;
    return removed;
}

// A new string element holding text cut as the maximum length says, for an add or an insert;
// one to be appended may share the last element's text.
IListElt_t *string_element(IList_t *list, const char *text, int maxlen, bool insert, bool appended = false)
{
    int n = text_length(text, maxlen);
    const char *shown = text ? text : "";
    IListElt_t *e = new_element(list);
    if (!e) Abort("No memory to add list element metadata for %.*s", n, shown);
    e->value.text = appended ? appended_text(list, text, n) : list_text(list, text, n);
    if (!e->value.text) {
        free_element(list, e);
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
IListElt_t *new_named_element(IList_t *list, const char *name)
{
    IListElt_t *e = new_element(list);
    if (!e) return nullptr;
    e->name = list_text(list, name, static_cast<int>(std::strlen(name)));
    if (!e->name) {
        free_element(list, e);
        return nullptr;
    }
    return e;
}

// A new element holding a copy of value, for a numeric list.
IListElt_t *numeric_element(IList_t *list, const dec_t *value)
{
    IListElt_t *e = new_element(list);
    if (e) e->value.number = new_number(list);
    if (!e || !e->value.number) Abort("No memory to add numeric list element metadata for %f\n", as_double(value));
    NumericCopy(e->value.number, value);
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
    IListElt_t *e = string_element(list, text, maxlen, false, !at_front);
    if (name) {
        e->name = list_text(list, name, static_cast<int>(std::strlen(name)));
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
    IListElt_t *e = new_element(list);
    if (!e) Abort("No memory to add integer list element metadata for %ld", v);
    e->value.integer = value;
    link_end(list, e, at_front);
}

void ilist_addnelt(IList_t *list, const dec_t *value, int at_front)
{
    checked(list, "ilist_addnelt");
    if (!(list->type & ILIST_NUMERIC)) Abort("List is not a numeric list - cannot add %f\n", as_double(value));
    if (list->type & ILIST_HASH) Abort("List is a numeric hash list - cannot add %f\n", as_double(value));
    IListElt_t *e = numeric_element(list, value);
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
    IListElt_t *e = string_element(list, text, maxlen, true);
    link_after(list, e, insert_point(list, position));
}

void ilist_insertielt(IList_t *list, int position, std::int64_t value)
{
    checked(list, "ilist_insertielt");
    long v = static_cast<long>(value);
    if (!(list->type & ILIST_INTEGER)) Abort("List is not an integer list - cannot add %ld\n", v);
    if (list->type & ILIST_HASH) Abort("List is an integer hash - cannot add %ld\n", v);
    check_insert_position(list, position);
    IListElt_t *e = new_element(list);
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
    IListElt_t *e = numeric_element(list, value);
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
    return reach(list, position, name)->value.number;
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
    if (e) {
        char *copy = list_text(list, text, n);
        if (!copy) Abort("No memory to add string list element %.*s", n, shown);
        drop_text(list, e->value.text);
        e->value.text = copy;
        return;
    }
    e = new_named_element(list, name);
    if (!e) Abort("No memory to add list element metadata for %.*s", n, shown);
    e->value.text = appended_text(list, text, n);
    if (!e->value.text) {
        free_element(list, e);
        Abort("No memory to add string list element %.*s", n, shown);
    }
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
    IListElt_t *e = new_named_element(list, name);
    if (!e) Abort("No memory to add integer list element metadata for %ld", v);
    e->value.integer = value;
    link_end(list, e, 0);
}

void ilist_setnelt(IList_t *list, int position, const dec_t *value, const char *name)
{
    checked(list, "ilist_setnelt");
    if (!(list->type & ILIST_NUMERIC)) Abort("List is not a numeric list - cannot set %d %f\n", position, as_double(value));
    if (IListElt_t *e = set_target(list, position, name)) {
        std::memmove(e->value.number, value, sizeof(dec_t));  // value may be this element's own
        return;
    }
    IListElt_t *e = new_named_element(list, name);
    if (e) e->value.number = new_number(list);
    if (!e || !e->value.number) Abort("No memory to add numeric list element metadata for %f\n", as_double(value));
    NumericCopy(e->value.number, value);
    link_end(list, e, 0);
}

int ilist_setname(IList_t *list, int position, const char *name)
{
    checked(list, "ilist_setname");
    if (list->type & ILIST_HASH) Abort("List is a hash list - cannot set name to %s\n", name ? name : "");
    IListElt_t *e = positioned(list, position);
    char *copy = nullptr;
    if (name) {
        copy = list_text(list, name, static_cast<int>(std::strlen(name)));
        if (!copy) Abort("No memory to add list element metadata for %s", name);
    }
    names_remove(list, e);
    drop_text(list, e->name);
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
        IListElt_t *c = nullptr;
        if (list->type & ILIST_STRING) {
            c = string_element(copy, e->value.text, static_cast<int>(std::strlen(e->value.text)), false);
        } else if (list->type & ILIST_NUMERIC) {
            c = numeric_element(copy, e->value.number);
        } else {
            c = new_element(copy);
            if (!c) Abort("No memory to add list element metadata for %s", e->name ? e->name : "");
            c->value = e->value;
        }
        if (e->name) {
            c->name = list_text(copy, e->name, static_cast<int>(std::strlen(e->name)));
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
                std::printf("%8d: %s%f\n", i, label.c_str(), as_double(e->value.number));
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
