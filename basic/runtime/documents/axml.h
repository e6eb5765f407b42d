// SBR XML instance documents (XBRL tax and payroll reports) read into six program lists.
//
// The file is read twice with libxml2's SAX interface: the first pass learns the contexts (their
// ids, a short name made of their explicit members' capitals, and the DIN that belongs to each),
// the second collects the facts. All six lists are string lists whose elements carry names
// (ILIST_STRING | ILIST_HASH); lists 2 to 5 are keyed by a list-1 index written as "%d":
//   1 values      element name, or "^"-joined element path -> the element's text
//   2 isEditable  index -> the isEditable attribute
//   3 isVisible   index -> the isVisible attribute
//   4 context     index -> the converted name of the element's context
//   5 DIN         index -> the DIN of the element's context ("" when none)
//   6 DINs        DIN -> DIN, each once
// The tuple ITPAYGWithholdingDetails is flattened into one list-1 entry per payment type code,
// "IncomeTax.PayAsYouGoWithholding.TaxWithheld.Amount#<code>".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "read_error.h"

struct IList_t;

inline constexpr int SBR_LISTS = 6;
// Limits far above any real instance, so that a hostile one cannot take the machine: elements
// open at once, the bytes of one value name (an element path), and of all value names together.
inline constexpr std::size_t SBR_MAX_DEPTH = 256;
inline constexpr std::size_t SBR_MAX_NAME = 16 * 1024;
inline constexpr std::size_t SBR_MAX_NAMES_TOTAL = std::size_t{1} << 30;
// Handler calls between two looks at a pending signal.
inline constexpr std::size_t SBR_SIGNAL_EVERY = 4096;
enum SbrList : int { SBR_VALUES, SBR_EDITABLE, SBR_VISIBLE, SBR_CONTEXT, SBR_DIN, SBR_DINS };

// What the import finds wrong with a document: the code of a ReadError.
enum class SbrReadCode : int {
    None = 0,
    ContextCreation,  // the file cannot be opened (or libxml2 cannot start on it)
    NotWellFormed,    // libxml2 found the document not well formed
    EntityRefused,    // a reference to an entity other than the five predefined ones
    UnpairedEnd,      // an end tag that does not pair with the path's last element
    TooDeep,          // elements nested deeper than SBR_MAX_DEPTH
    PathTooLong,      // an element path longer than SBR_MAX_NAME
    NamesTooLong,     // all value names together longer than SBR_MAX_NAMES_TOTAL
};

// The result record: the six lists in the order above.
struct SbrResult_t {
    IList_t *lists[SBR_LISTS];
};

// A context of the document: its id, its converted name (e.g. "R.I.A") and its DIN ("" none).
// Texts are kept whole, however long.
struct SbrContextEntry_t {
    std::string id;
    std::string name;
    std::string din;
};

// The working record of one sbr_xml_parse call, handed to the SAX handlers.
struct SbrContext_t {
    std::string element;  // current element name: local name, with "*" and the context name inside one
    std::string path;     // element names from the root down, joined by "^"

    std::optional<std::string> context;  // current context name (pass 1: the id; pass 2: converted)
    std::string context_element;         // local name of the element that opened it
    std::string context_id;              // its id as written

    // The withholding tuple being read (nullopt: not seen).
    std::optional<std::string> payment_code, amount, tuple_context, tuple_din, tuple_editable, tuple_visible;

    std::uint32_t in_tuple = 0;
    std::uint32_t want_text = 0;     // set by every start tag, cleared by every end tag
    std::uint32_t join_newline = 0;  // set by every start tag, cleared after each text

    std::vector<std::pair<std::string, std::string>> attrs;  // the current start tag's, until an end tag
    SbrResult_t result{};

    // The context table: entries [0, count) are complete; the one at count is being built.
    std::vector<SbrContextEntry_t> contexts;
    std::size_t count = 0;
    std::uint32_t pass = 0;  // 0 pass 1, 1 pass 2
    std::size_t elements = 0;  // the document's elements, counted in pass 1

    // Lookups stay near-linear in the document's size: complete contexts by id, case-insensitive
    // (the first in table order), and list-1 indexes by name, DIN and context (ValueKey).
    struct IdHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view id) const;
    };
    struct IdEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>()(key); }
    };
    std::unordered_map<std::string, std::size_t, IdHash, IdEqual> context_by_id;
    // The texts a fact is placed by (DINs, context names, flags) repeat from fact to fact: each
    // is kept once and numbered from 1, and the indexes below hold numbers.
    std::unordered_map<std::string, std::uint32_t, KeyHash, std::equal_to<>> interned;
    // What places each list-1 value, by its index (the tuple's entries and index 0 are blank):
    // its name (the list element's own, which lives as long as the lists; nullptr when the
    // value is not indexed), the numbers of its DIN and of its context (0: none), and those of
    // its isEditable and isVisible texts (lists 2 and 3; 0: none).
    struct Value {
        const char *name = nullptr;
        std::uint32_t din = 0;
        std::uint32_t context = 0;
        std::array<std::uint32_t, 2> flags{};
    };
    std::vector<Value> values;
    // The indexes of values by name, DIN and context: an open table (linear probing, 0 free).
    std::vector<std::uint32_t> value_slots;
    std::size_t values_indexed = 0;

    // The list-1 indexes (path, name) of the current element's text, until the next tag; {0, 0}
    // when it had none.
    std::pair<int, int> text_values;
    std::string text;  // character data since the last tag; libxml2 hands it over in pieces
    // Texts joined to a value already in list 1, by its index: grown in place and stored once the
    // pass is over, so a fact repeated many times costs its length, not its length squared.
    std::unordered_map<int, std::string> joined;
    std::size_t depth = 0;         // elements open
    std::size_t names_total = 0;   // the bytes of all list-1 names
    std::size_t since_check = 0;   // handler calls since the last look at pending signals
    void *parser = nullptr;    // the running xmlParserCtxt, so a handler can stop it
    std::exception_ptr failure;  // what stopped a handler; raised again once libxml2 has returned
    ReadError error;             // what a handler found wrong with the document; it stopped the parser
    std::optional<std::size_t> malformed_at;  // where a handler first saw libxml2 find it not well formed
    std::size_t bytes_read = 0;               // of the document, by the running pass
};

// Reads the file into six new lists, stored in lists (the caller owns them). Writes "Pass 1: XML
// Document is well formed" and "Pass 2: XML Document is well formed" on standard output. A document
// it cannot read is returned as an error ("Pass 1: Context creation error @ sbr_xml_parse" when the
// file cannot be opened, "Pass %d: XML Document isn't well formed @ sbr_xml_parse", "Unpaired end
// element '%s' in XML parsing, %s is expected", the limits), with about the byte offset in the file
// where it was found (0 when it cannot be opened); the lists made so far are freed and lists is left
// as it was. A signal and an allocation failure still end the run from inside.
[[nodiscard]] ReadError sbr_xml_parse(const char *file, SbrResult_t &lists);
// Destroys the lists of a result that were made (the null ones are skipped) and clears it.
void sbr_result_free(SbrResult_t &result);

// The context table. Ids are compared case-insensitively; the first entry in table order wins.
// The converted name of the context with that id, or the id itself when there is none (a view of
// the table entry or of id).
std::string_view convert_context(const SbrContext_t &record, std::string_view id);
// The DIN of the context with that id, "" when it has none or there is no such context.
std::string_view DIN_of_context(const SbrContext_t &record, std::string_view id);
// Gives the context with that id the DIN; nothing when there is none.
void set_din_in_context(SbrContext_t &record, std::string_view id, std::string_view din);
// Adds the abbreviation of member (its capitals A to Z) to the converted name of the entry being
// built: "."-joined abbreviations in descending byte order, each once.
void append_context(SbrContext_t &record, std::string_view member);
// The list-1 index of the value under name whose list-5 DIN is din and whose list-4 context is
// context (nullptr: the value has none), 0 when there is none.
int value_getindex_with_din(const SbrContext_t &record, std::string_view name, std::string_view din,
                            const std::string_view *context);
