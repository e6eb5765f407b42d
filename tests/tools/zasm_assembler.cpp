// The assembler of zasm, also linked into tests that assemble their programs in-process.
#include "zasm_assembler.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "mem_mgt.h"
#include "numerics.h"
#include "op_codes.h"
#include "zasm_text.h"

namespace {

std::string source_name = "-";
int source_line;

[[noreturn]] void fail(const std::string &message)
{
    throw ztools::AssemblyError("zasm: " + source_name + ":" + std::to_string(source_line) + ": " + message);
}

struct Operand {
    char tag = 0;
    std::string text;      // n, r, s: the text; l: the label name
    std::int64_t num = 0;  // I, P, c, i, p; l: an explicit index
    bool explicit_index = false;
};

enum class Kind { shebang, header, rawheader, noheader, record, data, nop, bytes, section, label };

struct Item {
    Kind kind;
    int line = 0;
    unsigned op = 0;
    std::vector<Operand> operands;
    std::vector<std::string> words;  // header fields, "*" for a computed one
    std::string text;                // shebang, raw header, section body, raw bytes, label name
};

// ---- reading the text ----

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted text starting at s[i] (the opening quote); i ends after the closing quote.
std::string unquote(const std::string &s, std::size_t &i)
{
    std::string out;
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            ++i;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= s.size()) break;
        switch (s[i]) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'x': {
            int hi = i + 1 < s.size() ? hex_digit(s[i + 1]) : -1;
            int lo = i + 2 < s.size() ? hex_digit(s[i + 2]) : -1;
            if (hi < 0 || lo < 0) fail("\\x needs two hexadecimal digits");
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: fail(std::string("unknown escape \\") + s[i]);
        }
    }
    fail("unterminated quoted text");
}

// Splits a line into words; a word may hold quoted parts; ";" outside quotes starts a comment.
// Each word comes back decoded, with quoted[k] telling whether it held a quoted part.
std::vector<std::string> split(const std::string &line, std::vector<bool> &quoted)
{
    std::vector<std::string> words;
    quoted.clear();
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size() || line[i] == ';') return words;
        std::string w;
        bool q = false;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            if (line[i] == '"') {
                w += unquote(line, i);
                q = true;
            } else {
                w += line[i++];
            }
        }
        words.push_back(w);
        quoted.push_back(q);
    }
}

std::int64_t number(const std::string &text, std::int64_t low, std::int64_t high)
{
    if (text.empty()) fail("missing number");
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') fail("bad number " + text);
    if (v < low || v > high) fail("number out of range " + text);
    return v;
}

Operand operand(const std::string &word)
{
    if (word.size() < 2 || word[1] != ':') fail("operand needs a tag: " + word);
    Operand o;
    o.tag = word[0];
    std::string value = word.substr(2);
    switch (o.tag) {
    case 'I':
    case 'P': o.num = number(value, INT64_MIN, INT64_MAX); break;
    case 'c':
    case 'i':
    case 'p': o.num = number(value, 0, 255); break;
    case 'l':
        if (!value.empty() && value[0] == '#') {
            o.num = number(value.substr(1), INT32_MIN, INT32_MAX);
            o.explicit_index = true;
        } else {
            if (value.empty()) fail("missing label name");
            o.text = value;
        }
        break;
    case 'n':
    case 'r':
    case 's':
        if (value.find('\0') != std::string::npos) fail("a text operand cannot hold a NUL byte");
        o.text = value;
        break;
    default: fail(std::string("unknown operand tag ") + o.tag);
    }
    return o;
}

std::string raw_bytes(const std::vector<std::string> &words, const std::vector<bool> &quoted)
{
    std::string out;
    for (std::size_t k = 1; k < words.size(); ++k) {
        if (quoted[k])
            out += words[k];
        else
            out += static_cast<char>(number(words[k], 0, 255));
    }
    return out;
}

std::vector<Item> parse(std::istream &in)
{
    std::vector<Item> items;
    std::string line;
    std::vector<bool> quoted;
    source_line = 0;
    while (std::getline(in, line)) {
        ++source_line;
        std::vector<std::string> w = split(line, quoted);
        if (w.empty()) continue;
        Item it;
        it.line = source_line;
        const std::string &head = w[0];
        if (head == ".shebang") {
            auto at = line.find(".shebang") + 8;
            while (at < line.size() && line[at] == ' ') ++at;
            it.kind = Kind::shebang;
            it.text = line.substr(at);
        } else if (head == ".header") {
            it.kind = Kind::header;
            it.words.assign(w.begin() + 1, w.end());
        } else if (head == ".rawheader") {
            if (w.size() != 2) fail(".rawheader takes one quoted text");
            it.kind = Kind::rawheader;
            it.text = w[1];
        } else if (head == ".noheader") {
            it.kind = Kind::noheader;
        } else if (head == ".bytes") {
            it.kind = Kind::bytes;
            it.text = raw_bytes(w, quoted);
        } else if (head == ".NOP") {
            it.kind = Kind::nop;
        } else if (head == ".data") {
            it.kind = Kind::data;
            for (std::size_t k = 1; k < w.size(); ++k) {
                Operand o = operand(w[k]);
                if (o.tag != 'n' && o.tag != 's') fail("a data list holds n and s items only");
                it.operands.push_back(o);
            }
        } else if (w.size() == 1 && head.size() > 1 && head.back() == ':' && !quoted[0]) {
            it.kind = Kind::label;
            it.text = head.substr(0, head.size() - 1);
        } else if (OP_CODE(head.c_str()) != o__NOP && ztools::is_section_op(OP_CODE(head.c_str()))) {
            if (w.size() != 1) fail(head + " stands alone on its line; its lines follow until .end");
            it.kind = Kind::section;
            it.op = OP_CODE(head.c_str());
            bool ended = false;
            while (std::getline(in, line)) {
                ++source_line;
                if (line == ".end") {
                    ended = true;
                    break;
                }
                it.text += line + "\n";
            }
            if (!ended) fail(head + " section without .end");
        } else {
            unsigned op = OP_CODE(head.c_str());
            if (op == o__NOP) fail("unknown op " + head);
            if (op == o__data) fail(".data is written as .data ITEMS");
            it.kind = Kind::record;
            it.op = op;
            for (std::size_t k = 1; k < w.size(); ++k) it.operands.push_back(operand(w[k]));
        }
        items.push_back(std::move(it));
    }
    return items;
}

// ---- assembling ----

bool is_start(unsigned op) { return op == o__nfunc || op == o__proc || op == o__sfunc; }

struct Layout {
    std::map<std::string, std::int64_t> labels;  // label -> code-word index from the code start
    std::map<std::string, int> routine_index;    // as the loader numbers routines
    std::uint64_t code_words = 0;
    std::uint64_t decimals[3] = {};  // constants, data lists, locals
    std::uint64_t chars[3] = {};
    std::uint64_t struct_bytes = 0;
};

Layout lay_out(const std::vector<Item> &items)
{
    Layout l;
    for (const Item &it : items) {
        source_line = it.line;
        if (it.kind == Kind::label) {
            if (!l.labels.emplace(it.text, static_cast<std::int64_t>(l.code_words)).second)
                fail("label defined twice: " + it.text);
            continue;
        }
        if (it.kind != Kind::record) continue;
        l.code_words += 1 + it.operands.size();
        for (const Operand &o : it.operands) {
            if (o.tag == 'r') l.routine_index.emplace(o.text, static_cast<int>(l.routine_index.size()));
            if (o.tag == 'n') ++l.decimals[0];
            if (o.tag == 's') l.chars[0] += o.text.size() + 1;
        }
        if (is_start(it.op) && it.operands.size() == 7) {
            auto count = [&](int k) { return it.operands[k].num < 0 ? 0 : static_cast<std::uint64_t>(it.operands[k].num); };
            l.decimals[1] += count(1);
            l.chars[1] += count(2);
            l.decimals[2] += count(3);
            l.chars[2] += count(4);
            l.struct_bytes += count(5);
        }
    }
    return l;
}

void put_be(std::string &out, std::uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string header_line(const std::vector<std::string> &given, const Layout &l, const std::string &name,
                        const std::string &key)
{
    std::vector<std::string> computed = {
        ztools::DEFAULT_ISSUE, "70", std::to_string(l.code_words),
        std::to_string(l.decimals[0]), std::to_string(l.decimals[1]), std::to_string(l.decimals[2]),
        std::to_string(l.chars[0]), std::to_string(l.chars[1]), std::to_string(l.chars[2]),
        std::to_string(l.struct_bytes), "0", std::to_string(key.size()), key, "0",
        ztools::DEFAULT_UNUSED15, name,
    };
    std::vector<std::string> fields = given;
    if (fields.empty()) fields.assign(computed.size(), "*");
    std::string out;
    for (std::size_t k = 0; k < fields.size(); ++k) {
        if (k) out += ' ';
        out += (fields[k] == "*" && k < computed.size()) ? computed[k] : fields[k];
    }
    return out;
}

std::string assemble(const std::vector<Item> &items, const std::string &name, const std::string &key)
{
    Layout l = lay_out(items);
    std::string out;
    bool have_header = false;
    for (const Item &it : items)
        have_header |= it.kind == Kind::header || it.kind == Kind::rawheader || it.kind == Kind::noheader;

    std::int64_t position = 0, code_root = 0;
    bool header_done = false;
    auto default_header = [&] {
        if (!have_header && !header_done) out += header_line({}, l, name, key) + "\n";
        header_done = true;
    };
    for (const Item &it : items) {
        source_line = it.line;
        if (it.kind != Kind::shebang) default_header();
        switch (it.kind) {
        case Kind::shebang: out += it.text + "\n"; break;
        case Kind::header: out += header_line(it.words, l, name, key) + "\n"; break;
        case Kind::rawheader: out += it.text + "\n"; break;
        case Kind::label:
        case Kind::noheader: break;
        case Kind::nop: out += '\0'; break;
        case Kind::bytes: out += it.text; break;
        case Kind::section:
            out += static_cast<char>(it.op);
            out += it.text;
            break;
        case Kind::data:
            out += static_cast<char>(o__data);
            for (const Operand &o : it.operands) {
                out += o.tag;
                out += o.text;
                out += '\0';
            }
            out += '\n';
            break;
        case Kind::record: {
            out += static_cast<char>(it.op);
            for (const Operand &o : it.operands) {
                out += o.tag;
                switch (o.tag) {
                case 'I':
                case 'P': put_be(out, static_cast<std::uint64_t>(o.num), 8); break;
                case 'c':
                case 'i':
                case 'p': out += static_cast<char>(o.num); break;
                case 'l': {
                    std::int64_t n = o.num;
                    if (!o.explicit_index) {
                        auto at = l.labels.find(o.text);
                        if (at == l.labels.end()) fail("undefined label " + o.text);
                        n = at->second - code_root;
                    }
                    put_be(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(n)), 4);
                    break;
                }
                default:
                    out += o.text;
                    out += '\0';
                }
            }
            out += '\n';
            // The loader counts labels from the entry of routine 0 once that routine has started.
            if (is_start(it.op) && !it.operands.empty() && it.operands[0].tag == 'r' &&
                l.routine_index.at(it.operands[0].text) == 0)
                code_root = position;
            position += 1 + static_cast<std::int64_t>(it.operands.size());
            break;
        }
        }
    }
    default_header();
    return out;
}

} // namespace

namespace ztools {

std::string assemble_text(std::istream &in, const std::string &source, const std::string &name)
{
    // The library's numeric-system key, made here rather than through its globals, which a test
    // program's run-time owns.
    int length = 0;
    char *made = CheckNumericGenerate(&length, NUMSYS_KEY_CONSTANT);
    const std::string key(made, static_cast<std::size_t>(length));
    sfree(made);
    source_name = source;
    return assemble(parse(in), name, key);
}

} // namespace ztools
