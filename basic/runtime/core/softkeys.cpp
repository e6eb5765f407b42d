// Soft-key label sets, read once at start-up from the site's soft-key file.
#include "softkeys.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "mem_mgt.h"
#include "message.h"

KeySet_t *keysets;

namespace {

constexpr int SOFTKEY_ERROR = 200;
constexpr int LINE_PIECE = 1024;  // lines are read in pieces of at most 1023 characters

bool end_of_line(const char *p)
{
    return *p == '\0' || *p == '\n' || *p == '\r';
}

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

const char *skip_space(const char *p)
{
    while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
    return p;
}

char *copy_text(const char *from, std::size_t length)
{
    auto *text = static_cast<char *>(salloc(length + 1));
    std::memcpy(text, from, length);
    text[length] = '\0';
    return text;
}

void append_set(KeySet_t *set)
{
    KeySet_t **tail = &keysets;
    while (*tail) tail = &(*tail)->next;
    *tail = set;
}

// One set line: name, a colon, then comma-separated key definitions.
KeySet_t *parse_set(const char *p, int line)
{
    const char *name = p;
    while (!end_of_line(p) && !blank(*p)) ++p;
    auto *set = Calloc(1, KeySet_t);
    set->name = copy_text(name, static_cast<std::size_t>(p - name));
    // Keep the set reachable while parsing, so an error stops the run with nothing leaked.
    append_set(set);

    while (*p != ':') {
        check_eos_and_err(p, line);
        ++p;
    }
    ++p;
    for (;;) {
        while (!std::isdigit(static_cast<unsigned char>(*p))) {
            check_eos_and_err(p, line);
            ++p;
        }
        long key = 0;
        while (std::isdigit(static_cast<unsigned char>(*p))) {
            if (key < 1000000) key = key * 10 + (*p - '0');
            ++p;
        }
        if (key >= NUM_SOFTKEYS)
            Xerror(SOFTKEY_ERROR, "SOFTKEY: Bad function key # %d - ln %d", static_cast<int>(key), line);
        while (blank(*p)) ++p;
        check_eos_and_err(p, line);
        if (*p != '"')
            Xerror(SOFTKEY_ERROR, "SOFTKEY: Missing opening quote for key %d - ln %d", static_cast<int>(key), line);
        const char *label = ++p;
        while (*p != '"') {
            check_eos_and_err(p, line);
            ++p;
        }
        DPS_FREE(set->labels[key]);
        set->labels[key] = copy_text(label, static_cast<std::size_t>(p - label));
        set->defined |= 1 << key;
        p = skip_space(p + 1);
        if (*p == '\0') return set;
        if (*p != ',') Xerror(SOFTKEY_ERROR, "SOFTKEY: Missing comma for next key def - ln %d.", line);
        ++p;
    }
}

} // namespace

int check_eos_and_err(const char *p, int line_number)
{
    if (end_of_line(p)) Xerror(SOFTKEY_ERROR, "SOFTKEY: Unexpected EOS Line - %d", line_number);
    return 0;
}

int LoadKeySets(const char *path)
{
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path, "re"), std::fclose);
    if (!file) Xerror(SOFTKEY_ERROR, "SOFTKEY: could not find label configuration '%s'", path);
    char piece[LINE_PIECE];
    int line = 0;
    int count = 0;
    while (std::fgets(piece, sizeof piece, file.get())) {
        ++line;
        const char *p = skip_space(piece);
        if (*p == '\0' || *p == '#') continue;
        parse_set(p, line);
        ++count;
    }
    return count;
}

KeySet_t *FindKeySet(const char *name)
{
    for (KeySet_t *set = keysets; set; set = set->next)
        if (std::strcmp(set->name, name) == 0) return set;
    return nullptr;
}

KeySet_t *default_keyset()
{
    return keysets;
}

void freekeysets()
{
    while (KeySet_t *set = keysets) {
        keysets = set->next;
        for (char *&label : set->labels) DPS_FREE(label);
        DPS_FREE(set->name);
        sfree(set);
    }
}
