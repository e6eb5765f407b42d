// SBR XML instance documents read into program lists, on libxml2's SAX interface.
//
// The documents come from outside: the SAX handler has only the start, end and character handlers
// and an entity lookup that finds nothing, so no DTD, external subset or declared entity is ever
// read (a reference to one is an undefined entity and the document is not well formed), and the
// parser gets XML_PARSE_NONET as well. Nesting depth and the length of value names are bounded,
// and the handlers reach the signal safe point every few thousand calls.
// Handlers never let an exception cross libxml2's frames: what they find wrong with the document is
// kept as the import's error and stops the parser; a signal or an allocation failure stops it too
// and is raised again once libxml2 has returned.
#include "axml.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <tuple>
#include <unistd.h>

#include <glib.h>
#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include "ilist.h"
#include "message.h"
#include "read_error.h"
#include "shared_files.h"
#include "signals.h"

namespace {

constexpr const char *WHERE = "sbr_xml_parse";
constexpr const char *CATALOGS = "/etc/xml:/usr/local/oska-sbr";
constexpr int PARSE_OPTIONS = XML_PARSE_RECOVER | XML_PARSE_NOENT | XML_PARSE_HUGE | XML_PARSE_NONET;

constexpr std::string_view TUPLE = "ITPAYGWithholdingDetails";
constexpr std::string_view TUPLE_AMOUNT = "IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount";
constexpr std::string_view TUPLE_CODE = "IncomeTax.PayAsYouGoWithholding.PaymentType.Code";
constexpr std::string_view EXPLICIT_MEMBER = "explicitMember";
constexpr std::string_view DIN_FACT = "BusinessDocument.GovernmentGeneratedIdentifier.Text";

// ---- Errors ------------------------------------------------------------------------------------

// The byte offset libxml2 has reached in the document, 0 when no parser runs.
std::size_t consumed(const SbrContext_t &r)
{
    const long n = r.parser ? xmlByteConsumed(static_cast<xmlParserCtxtPtr>(r.parser)) : 0;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// Keeps the first fault found in the document, where the parser is; false for the caller to return.
bool fail(SbrContext_t &r, SbrReadCode code, const char *format, ...) G_GNUC_PRINTF(3, 4);
bool fail(SbrContext_t &r, SbrReadCode code, const char *format, ...)
{
    if (r.error) return false;
    std::va_list ap;
    va_start(ap, format);
    char *text = g_strdup_vprintf(format, ap);
    va_end(ap);
    r.error = ReadError{static_cast<int>(code), text, consumed(r)};
    g_free(text);
    return false;
}

// ---- Texts -------------------------------------------------------------------------------------

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool istarts_with(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

// The name after its namespace prefix and ":", the whole name when it has none.
std::string_view local_name(std::string_view name)
{
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view view(const xmlChar *s) { return s ? reinterpret_cast<const char *>(s) : ""; }

// The value of the current start tag's attribute with that local name; nullptr when it has none.
const std::string *attribute(const SbrContext_t &r, std::string_view name)
{
    for (const auto &[n, v] : r.attrs)
        if (iequals(local_name(n), name)) return &v;
    return nullptr;
}

// ---- Lists -------------------------------------------------------------------------------------

IList_t *list(const SbrContext_t &r, SbrList which) { return r.result.lists[which]; }

int length(std::string_view s) { return static_cast<int>(s.size()); }

void set(const SbrContext_t &r, SbrList which, const std::string &key, std::string_view text)
{
    ilist_setselt(list(r, which), 0, text.data(), length(text), key.c_str());
}

// The number of a placing text, given on its first use.
std::uint32_t intern(SbrContext_t &r, std::string_view text)
{
    const auto found = r.interned.find(text);
    if (found != r.interned.end()) return found->second;
    const auto number = static_cast<std::uint32_t>(r.interned.size() + 1);
    r.interned.emplace(text, number);
    return number;
}

// The number of a text already used, 0 when it never was (then no value is placed by it).
std::uint32_t interned_number(const SbrContext_t &r, std::string_view text)
{
    const auto found = r.interned.find(text);
    return found == r.interned.end() ? 0 : found->second;
}

// How a fact's attributes place it: its context (by contextRef, else none), its DIN (by
// contextRef, else by the current context's id as written) and its two flags. Views of the
// context table and of the current tag's attributes, for the event at hand.
struct Placing {
    std::optional<std::string_view> context;
    std::string_view din;
    const std::string *editable = nullptr;
    const std::string *visible = nullptr;
};

Placing placing(const SbrContext_t &r)
{
    Placing p;
    if (const std::string *ref = attribute(r, "contextRef")) {
        p.context = convert_context(r, *ref);
        p.din = DIN_of_context(r, *ref);
    } else if (r.context) {
        p.din = DIN_of_context(r, r.context_id);
    }
    p.editable = attribute(r, "isEditable");
    p.visible = attribute(r, "isVisible");
    return p;
}

const std::string_view *context_of(const Placing &p) { return p.context ? &*p.context : nullptr; }

void add(const SbrContext_t &r, SbrList which, const std::string &key, std::string_view text)
{
    ilist_addselt(list(r, which), text.data(), length(text), 0, key.c_str());
}

// ---- The value index ---------------------------------------------------------------------------

SbrContext_t::Value &value_at(SbrContext_t &r, int index)
{
    const auto i = static_cast<std::size_t>(index);
    if (r.values.size() <= i) r.values.resize(i + 1);
    return r.values[i];
}

std::size_t value_hash(std::string_view name, std::uint32_t din, std::uint32_t context)
{
    const std::size_t numbers = (static_cast<std::size_t>(din) << 32 | context) * 0x9e3779b97f4a7c15u;
    return std::hash<std::string_view>()(name) ^ numbers;
}

void place_value(SbrContext_t &r, std::uint32_t index)
{
    const SbrContext_t::Value &v = r.values[index];
    const std::size_t mask = r.value_slots.size() - 1;
    std::size_t i = value_hash(v.name, v.din, v.context) & mask;
    while (r.value_slots[i]) i = (i + 1) & mask;
    r.value_slots[i] = index;
}

// Makes the table room for at least n values at under three quarters full.
void size_value_table(SbrContext_t &r, std::size_t n)
{
    std::size_t size = 16;
    while (size * 3 < n * 4) size *= 2;
    if (size <= r.value_slots.size()) return;
    r.value_slots.assign(size, 0);
    for (std::uint32_t index = 1; index < r.values.size(); ++index)
        if (r.values[index].name) place_value(r, index);
}

// Enters the value at index, its entry filled, under its name, DIN and context.
void index_value(SbrContext_t &r, std::uint32_t index)
{
    size_value_table(r, ++r.values_indexed);
    place_value(r, index);
}

// Lists 2 to 5 of the value at index, as far as the placing has them. A new value's key is in none
// of them yet, so its entries are appended without a search. A value found again was found by its
// DIN and context, so only its two flags can change, and they are set only when they do.
void set_keyed(SbrContext_t &r, int index, const Placing &p, bool fresh)
{
    auto &held = value_at(r, index).flags;
    const std::string key = std::to_string(index);
    if (fresh) {
        add(r, SBR_DIN, key, p.din);
        if (p.context) add(r, SBR_CONTEXT, key, *p.context);
    }
    const std::tuple<SbrList, const std::string *, std::uint32_t &> entries[] = {{SBR_EDITABLE, p.editable, held[0]},
                                                                                 {SBR_VISIBLE, p.visible, held[1]}};
    for (const auto &[which, given, number] : entries) {
        if (!given) continue;
        const std::uint32_t now = intern(r, *given);
        if (number == now) continue;
        if (number)
            set(r, which, key, *given);
        else
            add(r, which, key, *given);
        number = now;
    }
}

// A new list-1 value with lists 2 to 5; its index, 0 when the names are beyond their limit.
int add_value(SbrContext_t &r, const std::string &name, std::string_view text, const Placing &p)
{
    r.names_total += name.size();
    if (r.names_total > SBR_MAX_NAMES_TOTAL) {
        fail(r, SbrReadCode::NamesTooLong,
             "Pass 2: XML Document's value names exceed %zu bytes in all (SBR_MAX_NAMES_TOTAL) @ %s",
             SBR_MAX_NAMES_TOTAL, WHERE);
        return 0;
    }
    IList_t *values = list(r, SBR_VALUES);
    ilist_addselt(values, text.data(), length(text), 0, name.c_str());
    const int index = ilist_length(values);
    // The entry views the name the list keeps for the new (last) element.
    SbrContext_t::Value &v = value_at(r, index);
    v = {values->tail->name, intern(r, p.din), p.context ? intern(r, *p.context) : 0, {}};
    index_value(r, static_cast<std::uint32_t>(index));
    set_keyed(r, index, p, true);
    return index;
}

// ---- Pass 2: facts -----------------------------------------------------------------------------

bool fact_text(SbrContext_t &r, std::string_view text)
{
    const Placing p = placing(r);
    // Both are looked up before either is added: an element whose name is its path (the root)
    // gets two entries, as it does at its end.
    const int by_path = value_getindex_with_din(r, r.path, p.din, context_of(p));
    const int by_name = value_getindex_with_din(r, r.element, p.din, context_of(p));
    int added[2] = {};
    int i = 0;
    for (const auto &[name, index] : {std::pair{&r.element, by_name}, std::pair{&r.path, by_path}}) {
        if (!index) {
            if (!(added[i++] = add_value(r, *name, text, p))) return false;
            continue;
        }
        ++i;
        auto [at, first] = r.joined.try_emplace(index);
        std::string &joined = at->second;
        if (first) joined = ilist_sfetch(list(r, SBR_VALUES), index, nullptr);
        if (r.join_newline) joined += '\n';
        joined += text;
    }
    // The element's end finds the same two values unless a child comes first.
    r.text_values = {by_path ? by_path : added[1], by_name ? by_name : added[0]};
    return true;
}

// Every element outside the tuple has an entry, text or not.
bool fact_end(SbrContext_t &r)
{
    const Placing p = placing(r);
    // After its text the element's two values are known; a value its text was joined to takes
    // this element's flags.
    auto [by_path, by_name] = r.text_values;
    if (!by_path) {
        by_path = value_getindex_with_din(r, r.path, p.din, context_of(p));
        by_name = value_getindex_with_din(r, r.element, p.din, context_of(p));
        if (!by_path && !(by_path = add_value(r, r.path, "", p))) return false;
        if (!by_name && !(by_name = add_value(r, r.element, "", p))) return false;
    }
    set_keyed(r, by_path, p, false);
    set_keyed(r, by_name, p, false);
    return true;
}

// The tuple's amount under its payment type code; what the document left out is stored empty.
void store_tuple(SbrContext_t &r)
{
    const std::string name = std::string(TUPLE_AMOUNT) + "#" + r.payment_code.value_or("");
    const std::string amount = r.amount.value_or("");
    ilist_setselt(list(r, SBR_VALUES), 0, amount.c_str(), length(amount), name.c_str());
    const std::string key = std::to_string(ilist_getindex(list(r, SBR_VALUES), name.c_str()));
    set(r, SBR_DIN, key, r.tuple_din.value_or(""));
    set(r, SBR_CONTEXT, key, r.tuple_context.value_or(""));
    set(r, SBR_EDITABLE, key, r.tuple_editable.value_or(""));
    set(r, SBR_VISIBLE, key, r.tuple_visible.value_or(""));
}

void clear_tuple(SbrContext_t &r)
{
    for (auto *field : {&r.payment_code, &r.amount, &r.tuple_context, &r.tuple_din, &r.tuple_editable, &r.tuple_visible})
        field->reset();
    r.in_tuple = 0;
}

// The joined texts go into list 1, each once.
void store_joined(SbrContext_t &r)
{
    for (const auto &[index, text] : r.joined)
        ilist_setselt(list(r, SBR_VALUES), index, text.c_str(), length(text), nullptr);
    r.joined.clear();
}

// ---- Handlers ----------------------------------------------------------------------------------

// Raised from a handler when a signal waits for the safe point: libxml2 is stopped and has
// returned before the run acts on it.
struct SignalPending {};

// The entry of the context table being built.
SbrContextEntry_t &building(SbrContext_t &r)
{
    if (r.contexts.size() <= r.count) r.contexts.resize(r.count + 1);
    return r.contexts[r.count];
}

// The text since the last tag, once whole: libxml2 hands one text over in pieces (around entity
// references, at buffer ends), and the leading white space is dropped from the joined text.
// False on a fault.
bool take_text(SbrContext_t &r)
{
    if (r.text.empty()) return true;
    const std::size_t start = r.text.find_first_not_of(" \t\n\r");
    if (start == std::string::npos) {
        r.text.clear();
        return true;
    }
    // The buffer keeps its room for the next text; its content moves out only for this one.
    const std::string text = r.text.substr(start);
    r.text.clear();

    if (r.pass == 1 && !r.in_tuple) {
        if (!fact_text(r, text)) return false;
    } else if (r.pass == 1) {
        if (iequals(r.element, TUPLE_AMOUNT)) r.amount = text;
        if (iequals(r.element, TUPLE_CODE)) r.payment_code = text;
    } else if (istarts_with(r.element, EXPLICIT_MEMBER)) {
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos) append_context(r, std::string_view(text).substr(colon + 1));
    } else if (istarts_with(r.element, DIN_FACT)) {
        if (const std::string *ref = attribute(r, "contextRef")) set_din_in_context(r, *ref, text);
    }
    r.join_newline = 0;
    return true;
}

// False on a fault.
bool start_element(SbrContext_t &r, std::string_view name, const xmlChar **atts)
{
    if (!take_text(r)) return false;
    r.text_values = {};
    r.want_text = 1;
    r.join_newline = 1;
    const std::string_view local = local_name(name);
    if (!r.in_tuple && iequals(local, TUPLE)) r.in_tuple = 1;

    r.attrs.clear();
    for (const xmlChar **a = atts; a && a[0]; a += 2) r.attrs.emplace_back(view(a[0]), view(a[1]));

    const bool context_element = iequals(local, "context");
    if (context_element || iequals(local, "unit")) {
        if (const std::string *id = attribute(r, "id")) {
            r.context = r.pass ? std::string(convert_context(r, *id)) : *id;
            r.context_element = local;
            r.context_id = *id;
        }
    }

    if (r.pass == 0) ++r.elements;
    if (++r.depth > SBR_MAX_DEPTH)
        return fail(r, SbrReadCode::TooDeep,
                    "Pass %u: XML Document nests elements deeper than %zu levels (SBR_MAX_DEPTH) @ %s", r.pass + 1,
                    SBR_MAX_DEPTH, WHERE);
    r.element = local;
    if (r.context) r.element.append("*").append(*r.context);
    if (r.path.size() + 1 + r.element.size() > SBR_MAX_NAME)
        return fail(r, SbrReadCode::PathTooLong,
                    "Pass %u: XML Document has an element path longer than %zu bytes (SBR_MAX_NAME) @ %s", r.pass + 1,
                    SBR_MAX_NAME, WHERE);
    if (!r.path.empty()) r.path += '^';
    r.path += r.element;

    if (r.pass == 0 && r.context && context_element) building(r).id = *r.context;
    return true;
}

void end_context(SbrContext_t &r)
{
    r.context.reset();
    r.context_element.clear();
    r.context_id.clear();
}

// False when the end does not pair with the path's last element.
bool pop_path(SbrContext_t &r, std::string_view local)
{
    std::string ending(local);
    if (r.context) ending.append("*").append(*r.context);
    const std::size_t caret = r.path.rfind('^');
    if (caret == std::string::npos) {  // the root ends
        r.path.clear();
        r.element.clear();
        end_context(r);
        return true;
    }
    const std::string last = r.path.substr(caret + 1);
    if (!istarts_with(last, ending))
        return fail(r, SbrReadCode::UnpairedEnd, "Unpaired end element '%s' in XML parsing, %s is expected",
                    ending.c_str(), last.c_str());
    r.path.erase(caret);
    if (r.context && iequals(local, r.context_element)) end_context(r);
    const std::size_t before = r.path.rfind('^');
    r.element = r.path.substr(before == std::string::npos ? 0 : before + 1);
    return true;
}

// False on a fault.
bool end_element(SbrContext_t &r, std::string_view name)
{
    if (!take_text(r)) return false;
    r.want_text = 0;
    const std::string_view local = local_name(name);
    if (r.in_tuple) {
        if (iequals(local, TUPLE)) {
            if (r.pass == 1) store_tuple(r);
            clear_tuple(r);
        } else if (iequals(local, TUPLE_AMOUNT)) {
            if (const std::string *ref = attribute(r, "contextRef")) {
                r.tuple_context = std::string(convert_context(r, *ref));
                r.tuple_din = std::string(DIN_of_context(r, *ref));
            }
            if (const std::string *v = attribute(r, "isEditable")) r.tuple_editable = *v;
            if (const std::string *v = attribute(r, "isVisible")) r.tuple_visible = *v;
        }
    } else if (r.pass == 1) {
        if (!fact_end(r)) return false;
    } else if (iequals(local, "context")) {
        SbrContextEntry_t &entry = building(r);
        r.context_by_id.try_emplace(entry.id, r.count);
        ++r.count;
    }
    r.attrs.clear();
    r.text_values = {};
    if (!pop_path(r, local)) return false;
    if (r.depth) --r.depth;
    return true;
}

// libxml2's entry points: nothing is done once a handler has failed, and no exception leaves. Work
// gives false when it found a fault in the document (kept in the record); the parser stops then.
template <class Work> void guarded(void *user, Work work)
{
    auto &r = *static_cast<SbrContext_t *>(user);
    if (r.failure || r.error) return;
    const auto *parser = static_cast<const xmlParserCtxt *>(r.parser);
    if (!r.malformed_at && parser && !parser->wellFormed) r.malformed_at = consumed(r);
    try {
        try {
            if (++r.since_check >= SBR_SIGNAL_EVERY) {
                r.since_check = 0;
                if (pending_signal) throw SignalPending{};
            }
            if (!work(r)) xmlStopParser(static_cast<xmlParserCtxtPtr>(r.parser));
        } catch (const std::bad_alloc &) {
            Abort("Can't allocate memory @ %s:%d", "axml.cpp", __LINE__);
        }
    } catch (...) {
        r.failure = std::current_exception();
        xmlStopParser(static_cast<xmlParserCtxtPtr>(r.parser));
    }
}

void start_element_callback(void *user, const xmlChar *name, const xmlChar **atts)
{
    guarded(user, [&](SbrContext_t &r) { return start_element(r, view(name), atts); });
}

void end_element_callback(void *user, const xmlChar *name)
{
    guarded(user, [&](SbrContext_t &r) { return end_element(r, view(name)); });
}

void characters_callback(void *user, const xmlChar *ch, int len)
{
    guarded(user, [&](SbrContext_t &r) {
        if (r.want_text)
            r.text.append(reinterpret_cast<const char *>(ch), static_cast<std::size_t>(len));
        else
            r.join_newline = 0;
        return true;
    });
}

// A reference to an entity that is not one of the five predefined ones: no entity is ever
// declared to anyone, so where libxml2 will find the document not well formed for it, the stop
// says why. Beside an external subset the reference reads as nothing, as libxml2 has it.
xmlEntityPtr get_entity_callback(void *user, const xmlChar *name)
{
    guarded(user, [&](SbrContext_t &r) {
        const auto *parser = static_cast<const xmlParserCtxt *>(r.parser);
        if (parser->standalone == 1 || (!parser->hasExternalSubset && !parser->hasPErefs))
            return fail(r, SbrReadCode::EntityRefused,
                        "Pass %u: XML Document isn't well formed @ %s: entities are not accepted (&%s;)", r.pass + 1,
                        WHERE, reinterpret_cast<const char *>(name));
        return true;
    });
    return nullptr;
}

// The parser and the document libxml2 may have started for a DOCTYPE's entity declarations (kept
// for SAX callers that never see them, and never freed with the parser).
struct ParserFree {
    void operator()(xmlParserCtxt *c) const
    {
        if (c->myDoc) xmlFreeDoc(c->myDoc);
        xmlFreeParserCtxt(c);
    }
};

// The document, read through a descriptor of ours: libxml2 never opens the name itself, so below
// a shared directory only a document of our own (or root's) is read, and no FIFO is waited on.
struct Document {
    int fd;
    SbrContext_t &record;
    Document(const char *file, SbrContext_t &r) : fd(open_to_read(file)), record(r) {}
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;
    ~Document()
    {
        if (fd >= 0) close(fd);
    }
};

int read_document(void *context, char *buffer, int len)
{
    auto &d = *static_cast<Document *>(context);
    for (;;) {
        const ssize_t n = read(d.fd, buffer, static_cast<std::size_t>(len));
        if (n > 0) d.record.bytes_read += static_cast<std::size_t>(n);
        if (n >= 0 || errno != EINTR) return static_cast<int>(n);
        // A signal ends the wait: the safe point acts on it, and what it raises waits until
        // libxml2 has returned.
        try {
            check_signals();
        } catch (...) {
            d.record.failure = std::current_exception();
            return -1;
        }
    }
}

// One pass over the file; false when the document has a fault (kept in the record).
bool parse_pass(SbrContext_t &r, const char *file)
{
    // The three handlers: a start handler of the first SAX version (qualified names, the
    // attributes as name and value pairs); no DTD or error handler, and an entity handler that
    // never gives an entity.
    xmlSAXHandler sax{};
    sax.startElement = start_element_callback;
    sax.endElement = end_element_callback;
    sax.characters = characters_callback;
    sax.getEntity = get_entity_callback;

    const int pass = static_cast<int>(r.pass) + 1;
    Document document(file, r);
    std::unique_ptr<xmlParserCtxt, ParserFree> parser(
        document.fd < 0 ? nullptr : xmlCreateIOParserCtxt(nullptr, nullptr, read_document, nullptr, &document, XML_CHAR_ENCODING_NONE));
    if (parser) xmlCtxtUseOptions(parser.get(), PARSE_OPTIONS);
    if (!parser)
        return fail(r, SbrReadCode::ContextCreation,
                    pass == 1 ? "Pass 1: Context creation error @ %s" : "Passe 2: Context creation error @ %s", WHERE);
    *parser->sax = sax;
    parser->userData = &r;
    r.parser = parser.get();
    xmlParseDocument(parser.get());
    if (r.failure) {
        r.parser = nullptr;
        std::rethrow_exception(r.failure);
    }
    // Not well formed: where a handler first saw it, or as far as libxml2 had read when it gave up
    // (a parser it halted no longer knows where it was).
    if (!r.error && !parser->wellFormed) {
        fail(r, SbrReadCode::NotWellFormed, "Pass %d: XML Document isn't well formed @ %s", pass, WHERE);
        r.error.offset = r.malformed_at.value_or(r.bytes_read);
    }
    r.parser = nullptr;
    if (r.error) return false;
    std::printf("Pass %d: XML Document is well formed\n", pass);
    std::fflush(stdout);
    return true;
}

// A pass starts from the root with no text, tag or tuple pending.
void reset_reading(SbrContext_t &r)
{
    r.element.clear();
    r.path.clear();
    end_context(r);
    clear_tuple(r);
    r.want_text = r.join_newline = 0;
    r.attrs.clear();
    r.text.clear();
    r.depth = 0;
    r.malformed_at.reset();
    r.bytes_read = 0;
}

// Destroys the lists unless the parse completes.
struct ListsGuard {
    SbrResult_t &result;
    bool done = false;
    ~ListsGuard()
    {
        if (!done) sbr_result_free(result);
    }
};

} // namespace

std::size_t SbrContext_t::IdHash::operator()(std::string_view id) const
{
    std::size_t h = 14695981039346656037u;  // FNV-1a over the lower-case bytes
    for (char c : id) h = (h ^ static_cast<unsigned char>(lower(c))) * 1099511628211u;
    return h;
}

bool SbrContext_t::IdEqual::operator()(std::string_view a, std::string_view b) const { return iequals(a, b); }

std::string_view convert_context(const SbrContext_t &record, std::string_view id)
{
    const auto found = record.context_by_id.find(id);
    return found == record.context_by_id.end() ? id : std::string_view(record.contexts[found->second].name);
}

std::string_view DIN_of_context(const SbrContext_t &record, std::string_view id)
{
    const auto found = record.context_by_id.find(id);
    return found == record.context_by_id.end() ? std::string_view("") : std::string_view(record.contexts[found->second].din);
}

void set_din_in_context(SbrContext_t &record, std::string_view id, std::string_view din)
{
    const auto found = record.context_by_id.find(id);
    if (found != record.context_by_id.end()) record.contexts[found->second].din = din;
}

void append_context(SbrContext_t &record, std::string_view member)
{
    std::string abbreviation;
    for (char c : member)
        if (c >= 'A' && c <= 'Z') abbreviation += c;
    std::string &name = building(record).name;
    if (name.empty()) {
        name = abbreviation;
        return;
    }
    // Components are compared whole: "R" present does not make "RA" present.
    for (std::size_t start = 0;;) {
        const std::size_t dot = name.find('.', start);
        const std::string_view component =
            std::string_view(name).substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (component == abbreviation) return;
        if (component < abbreviation) {
            name.insert(start, abbreviation + ".");
            return;
        }
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    name.append(".").append(abbreviation);
}

int value_getindex_with_din(const SbrContext_t &record, std::string_view name, std::string_view din,
                            const std::string_view *context)
{
    const std::uint32_t din_number = interned_number(record, din);
    const std::uint32_t context_number = context ? interned_number(record, *context) : 0;
    if (!din_number || (context && !context_number)) return 0;
    const auto &slots = record.value_slots;
    if (slots.empty()) return 0;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = value_hash(name, din_number, context_number) & mask; slots[i]; i = (i + 1) & mask) {
        const SbrContext_t::Value &v = record.values[slots[i]];
        if (v.din == din_number && v.context == context_number && name == v.name) return static_cast<int>(slots[i]);
    }
    return 0;
}

void sbr_result_free(SbrResult_t &result)
{
    for (IList_t *&l : result.lists) {
        if (l) ilist_destroy(l);
        l = nullptr;
    }
}

ReadError sbr_xml_parse(const char *file, SbrResult_t &lists)
{
    static std::once_flag catalogs;
    std::call_once(catalogs, [] {
        xmlInitParser();
        // Loaded once per process: each load would add its entries to the catalogue again.
        xmlLoadCatalogs(CATALOGS);
    });

    auto record = std::make_unique<SbrContext_t>();
    ListsGuard guard{record->result};
    for (IList_t *&l : record->result.lists) l = ilist_declare(ILIST_STRING | ILIST_HASH);

    for (std::uint32_t pass : {0u, 1u}) {
        reset_reading(*record);
        record->pass = pass;
        if (pass == 1) {
            // An element makes at most two values (its name and its path): the index is made
            // once at its full size instead of growing through every size below it.
            size_value_table(*record, 2 * record->elements);
            record->values.reserve(2 * record->elements + 1);
        }
        try {
            if (!parse_pass(*record, file)) return std::move(record->error);  // the guard frees the lists
        } catch (const SignalPending &) {
            // The safe point, now that libxml2 has returned.
            check_signals();
            Abort("Caught signal during %s", WHERE);
        }
        if (pass == 1) store_joined(*record);
    }
    for (std::size_t i = 0; i < record->count; ++i) {
        const std::string &din = record->contexts[i].din;
        if (!din.empty()) set(*record, SBR_DINS, din, din);
    }
    guard.done = true;
    lists = record->result;
    return {};
}
