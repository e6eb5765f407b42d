// zdis: prints a ZEMA object file as zasm text; zasm turns the text back into the same bytes.
//
//   zdis [FILE]     FILE "-" or absent: standard input
//
// What cannot be read as records (a damaged or cut-off file) is printed as .bytes from the first
// record that does not parse, so even a corrupted file round-trips.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "op_codes.h"
#include "zasm_text.h"

namespace {

struct Operand {
    char tag;
    std::int64_t num = 0;
    std::string text;
};

enum class Kind { nop, data, section, record };

struct Record {
    Kind kind;
    unsigned op = 0;
    std::int64_t position = 0;  // code-word index of a code record
    std::vector<Operand> operands;
    std::string body;  // section text
};

class Reader {
public:
    explicit Reader(const std::string &bytes) : b_(bytes) {}
    std::size_t pos = 0;
    bool at_end() const { return pos >= b_.size(); }
    std::optional<unsigned char> byte()
    {
        if (pos >= b_.size()) return std::nullopt;
        return static_cast<unsigned char>(b_[pos++]);
    }
    std::optional<std::string> text()  // up to and including a NUL
    {
        auto nul = b_.find('\0', pos);
        if (nul == std::string::npos) return std::nullopt;
        std::string t = b_.substr(pos, nul - pos);
        pos = nul + 1;
        return t;
    }
    std::optional<std::uint64_t> number(int bytes)
    {
        if (b_.size() - pos < static_cast<std::size_t>(bytes)) return std::nullopt;
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(b_[pos++]);
        return v;
    }
    std::optional<std::string> line()  // without its newline
    {
        auto nl = b_.find('\n', pos);
        if (nl == std::string::npos) return std::nullopt;
        std::string t = b_.substr(pos, nl - pos);
        pos = nl + 1;
        return t;
    }
    bool skip(long n)
    {
        if (n < 0 || b_.size() - pos < static_cast<std::size_t>(n)) return false;
        pos += static_cast<std::size_t>(n);
        return true;
    }
    std::string from(std::size_t start) const { return b_.substr(start, pos - start); }

private:
    const std::string &b_;
};

bool counted_lines(Reader &r, int n)
{
    if (n < 0) return false;
    for (int i = 0; i < n; ++i)
        if (!r.line()) return false;
    return true;
}

// Moves the reader past one section; false when it does not parse.
bool skip_section(Reader &r, unsigned op)
{
    auto head = r.line();
    if (!head) return false;
    int n = 0;
    char name[2048];
    switch (op) {
    case o_symtab:
        if (head->size() >= sizeof name || std::sscanf(head->c_str(), "__ROUTINE__ %2047s %d", name, &n) != 2) return false;
        return counted_lines(r, n) && counted_lines(r, 1);
    case o_inclvs:
        return std::sscanf(head->c_str(), "__INCL_VERS__ %d", &n) == 1 && counted_lines(r, n);
    case o_loadedfiles:
        return std::sscanf(head->c_str(), "__LOADED_FILES__ %d", &n) == 1 && counted_lines(r, n);
    default:
        break;
    }
    if (std::sscanf(head->c_str(), "__SQL_TABLES__ %d", &n) != 1 || n < 0) return false;
    for (int t = 0; t < n; ++t) {
        auto tl = r.line();
        short nidx = 0, ncols = 0;
        if (!tl || std::sscanf(tl->c_str(), "T:%*s %hd %hd", &nidx, &ncols) != 2 || nidx < 0 || ncols < 0) return false;
        for (int c = 0; c < ncols; ++c) {
            auto cl = r.line();
            int d = 0, k = 0;
            if (!cl || std::sscanf(cl->c_str(), "C:%*s %*d %*d %*d %*d %d %d", &d, &k) != 2) return false;
            if (d > 0 && !r.skip(d)) return false;
            if (k > 0 && !r.skip(static_cast<long>(k) + 1)) return false;
        }
        for (int i = 0; i < nidx; ++i) {
            auto il = r.line();
            short natts = 0;
            if (!il || std::sscanf(il->c_str(), "I:%*s %hd", &natts) != 1 || !counted_lines(r, natts)) return false;
        }
    }
    return true;
}

// A section body zasm can hold between its op line and ".end".
bool printable_body(const std::string &body)
{
    if (body.empty() || body.back() != '\n' || body.find('\0') != std::string::npos) return false;
    return body.find("\n.end\n") == std::string::npos && body.rfind(".end\n", 0) != 0;
}

std::optional<Record> read_record(Reader &r, std::int64_t position)
{
    Record rec;
    rec.op = *r.byte();
    if (rec.op == o__NOP) {
        rec.kind = Kind::nop;
        return rec;
    }
    if (rec.op == o__data) {
        rec.kind = Kind::data;
        for (;;) {
            auto tag = r.byte();
            if (!tag) return std::nullopt;
            if (*tag == '\n') return rec;
            if (*tag != 'n' && *tag != 's') return std::nullopt;
            auto t = r.text();
            if (!t) return std::nullopt;
            rec.operands.push_back({static_cast<char>(*tag), 0, *t});
        }
    }
    if (ztools::is_section_op(rec.op)) {
        rec.kind = Kind::section;
        std::size_t start = r.pos;
        if (!skip_section(r, rec.op)) return std::nullopt;
        rec.body = r.from(start);
        if (!printable_body(rec.body)) return std::nullopt;
        return rec;
    }
    if (rec.op >= OP_CODE_COUNT) return std::nullopt;
    rec.kind = Kind::record;
    rec.position = position;
    for (;;) {
        auto tag = r.byte();
        if (!tag) return std::nullopt;
        if (*tag == '\n') return rec;
        Operand o{static_cast<char>(*tag), 0, {}};
        std::optional<std::uint64_t> v;
        std::optional<std::string> t;
        switch (*tag) {
        case 'I':
        case 'P':
            if (!(v = r.number(8))) return std::nullopt;
            o.num = static_cast<std::int64_t>(*v);
            break;
        case 'c':
        case 'i':
        case 'p':
            if (!(v = r.number(1))) return std::nullopt;
            o.num = static_cast<std::int64_t>(*v);
            break;
        case 'l':
            if (!(v = r.number(4))) return std::nullopt;
            o.num = static_cast<std::int32_t>(static_cast<std::uint32_t>(*v));
            break;
        case 'n':
        case 'r':
        case 's':
            if (!(t = r.text())) return std::nullopt;
            o.text = *t;
            break;
        default:
            return std::nullopt;
        }
        rec.operands.push_back(o);
    }
}

bool bare(const std::string &t, const char *allowed_extra)
{
    if (t.empty()) return false;
    for (unsigned char c : t)
        if (!(std::isalnum(c) || std::strchr(allowed_extra, c))) return false;
    return true;
}

std::string text_operand(const Operand &o)
{
    std::string v = o.text;
    bool plain = o.tag == 'n' ? bare(v, "+-.") : o.tag == 'r' ? bare(v, "_$.#%&") : false;
    return std::string(1, o.tag) + ":" + (plain ? v : ztools::quote(v));
}

void print_bytes(const std::string &bytes)
{
    for (std::size_t i = 0; i < bytes.size(); i += 16) {
        std::printf(".bytes");
        for (std::size_t k = i; k < bytes.size() && k < i + 16; ++k)
            std::printf(" 0x%02X", static_cast<unsigned char>(bytes[k]));
        std::printf("\n");
    }
}

// The header as .header words when zasm would write it back the same, else as a quoted text.
void print_header(const std::string &line)
{
    std::vector<std::string> words;
    bool plain = !line.empty() && line.front() != ' ' && line.back() != ' ';
    std::size_t start = 0;
    while (plain && start <= line.size()) {
        auto sp = line.find(' ', start);
        std::string w = line.substr(start, sp == std::string::npos ? std::string::npos : sp - start);
        if (w.empty() || w == "*") plain = false;
        for (unsigned char c : w)
            if (c <= ' ' || c >= 0x7F || c == '"' || c == ';') plain = false;
        words.push_back(w);
        if (sp == std::string::npos) break;
        start = sp + 1;
    }
    if (!plain) {
        std::printf(".rawheader %s\n", ztools::quote(line).c_str());
        return;
    }
    std::printf(".header");
    for (const auto &w : words) std::printf(" %s", w.c_str());
    std::printf("\n");
}

bool is_start(unsigned op) { return op == o__nfunc || op == o__proc || op == o__sfunc; }

} // namespace

int main(int argc, char **argv)
{
    std::string path = argc > 1 ? argv[1] : "-";
    std::string bytes;
    if (path == "-") {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "zdis: cannot read %s\n", path.c_str());
            return 1;
        }
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }

    Reader r(bytes);
    auto clean_line = [](const std::string &t) {
        for (unsigned char c : t)
            if (c == '\0' || c == '\r') return false;
        return true;
    };
    if (bytes.rfind("#!", 0) == 0) {
        std::size_t start = r.pos;
        auto l = r.line();
        if (!l || !clean_line(*l)) {
            std::printf(".noheader\n");
            print_bytes(bytes);
            return 0;
        }
        (void)start;
        std::printf(".shebang %s\n", l->c_str());
    }
    {
        std::size_t start = r.pos;
        auto l = r.line();
        if (!l) {
            std::printf(".noheader\n");
            print_bytes(bytes.substr(start));
            return 0;
        }
        print_header(*l);
    }

    // Records, with the code positions of each and the loader's routine numbering.
    std::vector<Record> records;
    std::string rest;
    std::int64_t position = 0;
    while (!r.at_end()) {
        std::size_t start = r.pos;
        auto rec = read_record(r, position);
        if (!rec) {
            rest = bytes.substr(start);
            break;
        }
        if (rec->kind == Kind::record) position += 1 + static_cast<std::int64_t>(rec->operands.size());
        records.push_back(std::move(*rec));
    }

    // Label targets: the loader counts "l" operands from routine 0's latest entry.
    std::map<std::string, int> routine_index;
    std::set<std::int64_t> starts;
    for (const Record &rec : records)
        if (rec.kind == Kind::record) starts.insert(rec.position);
    starts.insert(position);
    std::map<const Operand *, std::int64_t> targets;
    std::set<std::int64_t> labels;
    std::int64_t code_root = 0;
    for (const Record &rec : records) {
        if (rec.kind != Kind::record) continue;
        for (const Operand &o : rec.operands) {
            if (o.tag == 'r') routine_index.emplace(o.text, static_cast<int>(routine_index.size()));
            if (o.tag == 'l' && starts.count(code_root + o.num)) {
                targets[&o] = code_root + o.num;
                labels.insert(code_root + o.num);
            }
        }
        if (is_start(rec.op) && !rec.operands.empty() && rec.operands[0].tag == 'r' &&
            routine_index.at(rec.operands[0].text) == 0)
            code_root = rec.position;
    }

    for (const Record &rec : records) {
        if (rec.kind == Kind::record && labels.count(rec.position)) std::printf("L%lld:\n", static_cast<long long>(rec.position));
        switch (rec.kind) {
        case Kind::nop: std::printf(".NOP\n"); break;
        case Kind::data:
            std::printf(".data");
            for (const Operand &o : rec.operands) std::printf(" %s", text_operand(o).c_str());
            std::printf("\n");
            break;
        case Kind::section:
            std::printf("%s\n%s.end\n", op_codes[rec.op], rec.body.c_str());
            break;
        case Kind::record:
            if (is_start(rec.op)) std::printf("\n");
            std::printf("%s", op_codes[rec.op]);
            for (const Operand &o : rec.operands) {
                switch (o.tag) {
                case 'l':
                    if (targets.count(&o))
                        std::printf(" l:L%lld", static_cast<long long>(targets[&o]));
                    else
                        std::printf(" l:#%lld", static_cast<long long>(o.num));
                    break;
                case 'n':
                case 'r':
                case 's': std::printf(" %s", text_operand(o).c_str()); break;
                default: std::printf(" %c:%lld", o.tag, static_cast<long long>(o.num));
                }
            }
            std::printf("\n");
            break;
        }
    }
    if (labels.count(position)) std::printf("L%lld:\n", static_cast<long long>(position));
    print_bytes(rest);
    return 0;
}
