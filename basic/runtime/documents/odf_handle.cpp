// The insertion handle: its registry of tokens and values, the conversions done when a value is
// registered, and the IINSERT_OO_ intrinsics. See odf_insert.h.
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include <glib.h>

#include "applications.h"
#include "cases.h"
#include "executor.h"
#include "gdata.h"
#include "message.h"
#include "misc.h"
#include "numerics.h"
#include "odf_insert.h"
#include "odf_package.h"
#include "read_error.h"
#include "style_tags.h"

using intr::arg;

namespace {

// The chain of live handles. A program holds a handle as a number; only a number found here is
// ever used as one.
InsertOoHandle_t *first_handle = nullptr;

bool logging() { return global_data && global_data->log_level_lumbas >= 1; }

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::string text_arg(int nargs, int last, int i) { return std::string(intr::text(arg(nargs, last, i))); }
std::string trimmed_arg(int nargs, int last, int i) { return std::string(trimmed(intr::text(arg(nargs, last, i)))); }

InsertOoHandle_t *handle_arg(int nargs, int last, const char *intrinsic)
{
    return insert_oo_live_handle(intr::long_integer(arg(nargs, last, 0)), intrinsic);
}

// The token of a value to register: trimmed, and not empty, since an empty token would be found
// everywhere and its replacement would never end.
std::string token_arg(int nargs, int last, const char *intrinsic)
{
    std::string token = trimmed_arg(nargs, last, 1);
    if (token.empty()) Abort("Empty token passed to %s", intrinsic);
    return token;
}

dec_t *numeric_variable(int nargs, int last, int i, const char *intrinsic)
{
    Stack &e = arg(nargs, last, i);
    if (e.s_t != real || !(e.flags & stk_ref) || !e.s_c.C_N)
        Xerror(202, "%s: argument must be a numeric variable", intrinsic);
    return e.s_c.C_N;
}

std::unique_ptr<InsertOoValue_t> new_value(std::string text, InsertOoTagList tags = {})
{
    auto value = std::make_unique<InsertOoValue_t>();
    value->text = std::move(text);
    value->tags = std::move(tags);
    return value;
}

// ---- Text conversion ------------------------------------------------------------------------------

constexpr int MAX_SPACES = 1000000;
constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at the start of text whose code point XML
// allows, or 0.
std::size_t utf8_length(std::string_view text)
{
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c = b(0);
    std::size_t n;
    char32_t cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (text.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
    return n;
}

// A relative path as seen from the working directory now; other paths as they are. Links are
// not resolved: the shared files' rules look at them where they lie.
std::string absolute_path(std::string path)
{
    if (path.empty() || path.front() == '/') return path;
    std::error_code failed;
    const std::filesystem::path here = std::filesystem::current_path(failed);
    return failed ? path : (here / path).string();
}

// ---- Intrinsics -----------------------------------------------------------------------------------

void insert_oo_create(int nargs, int, Stack *result)
{
    if (nargs != 0) Abort("insert_oo_create may not have any parameters");
    if (logging()) _mlog(1, 1, "Do insert_oo_create");
    InsertOoHandle_t *handle = insert_oo_new_handle();
    intr::set_number(result, reinterpret_cast<long>(handle));
    // Tracked with the application, so that one left at its end is reported and freed there.
    if (current_application && current_application->app)
        AppIlistAdd(current_application->app, APP_HANDLE_OODOC, reinterpret_cast<std::uintptr_t>(handle),
                    current_application->name, src_line_number, src_file_index);
}

void insert_oo_destroy(int nargs, int last, Stack *result)
{
    if (nargs != 1) Abort("insert_oo_destroy must have one parameter");
    if (logging()) _mlog(1, 1, "Do insert_oo_destroy");
    InsertOoHandle_t *handle = handle_arg(nargs, last, "iinsert_oo_destroy");
    intr::set_number(result, insert_oo_free_handle(handle));
    for (Application_t *ap = applications; ap; ap = ap->next)
        if (ap->app) AppIlistDel(ap->app, reinterpret_cast<std::uintptr_t>(handle));
}

void insert_oo_add_text(int nargs, int last)
{
    if (nargs != 3 && nargs != 4) Abort("insert_oo_add_text must have three or four parameters");
    InsertOoHandle_t *handle = handle_arg(nargs, last, "iinsert_oo_add_text");
    const std::string token = token_arg(nargs, last, "iinsert_oo_add_text");
    const std::string text = text_arg(nargs, last, 2);
    const std::string tags = nargs == 4 ? text_arg(nargs, last, 3) : std::string();
    if (logging()) {
        if (nargs == 4)
            _mlog(1, 1, "Do iinsert_oo_add_text %s '%s' '%s'", token.c_str(), text.c_str(), tags.c_str());
        else
            _mlog(1, 1, "Do iinsert_oo_add_text %s '%s'", token.c_str(), text.c_str());
    }
    InsertOoTagList list = nargs == 4 ? insert_oo_get_attribute(handle, tags) : InsertOoTagList{};
    insert_oo_add_item(handle, new_value(insert_oo_parse_text(text), std::move(list)), IOO_TP_TEXT, token);
}

void insert_oo_add_note(int nargs, int last)
{
    if (nargs < 3 || nargs > 6) Abort("insert_oo_add_note may have three, four, five or six parameters");
    InsertOoHandle_t *handle = handle_arg(nargs, last, "iinsert_oo_add_note");
    const std::string token = token_arg(nargs, last, "iinsert_oo_add_note");
    auto value = new_value(trimmed_arg(nargs, last, 2));
    if (nargs >= 4) value->amount = static_cast<std::uint32_t>(intr::integer(arg(nargs, last, 3)));
    if (nargs >= 5) value->paragraph = static_cast<std::uint32_t>(intr::integer(arg(nargs, last, 4)));
    if (nargs == 6) value->tag_name = trimmed_arg(nargs, last, 5);
    if (logging()) {
        if (nargs == 3)
            _mlog(1, 1, "Do iinsert_oo_add_note %s '%s'", token.c_str(), value->text.c_str());
        else if (nargs < 6)
            _mlog(1, 1, "Do iinsert_oo_add_note %s '%s' Amount Flag=%d", token.c_str(), value->text.c_str(),
                  static_cast<int>(value->amount));
        else
            _mlog(1, 1, "Do iinsert_oo_add_note %s '%s' Amount Flag=%d Tag Name='%s'", token.c_str(),
                  value->text.c_str(), static_cast<int>(value->amount), value->tag_name->c_str());
    }
    insert_oo_add_item(handle, std::move(value), IOO_TP_NOTE, token);
}

// IINSERT_OO_ADD_NUMERIC and IINSERT_OO_ADD_MONEY: money is grouped by thousands.
void add_number(int nargs, int last, std::uint32_t type, const char *name)
{
    InsertOoHandle_t *handle = handle_arg(nargs, last, name);
    const std::string token = token_arg(nargs, last, name);
    const std::string text =
        insert_oo_parse_number(intr::number(arg(nargs, last, 2)), intr::integer(arg(nargs, last, 3)), type == IOO_TP_MONEY);
    const std::string tags = nargs == 5 ? text_arg(nargs, last, 4) : std::string();
    if (logging()) {
        if (nargs == 5)
            _mlog(1, 1, "Do %s %s %s %s", name, token.c_str(), text.c_str(), tags.c_str());
        else
            _mlog(1, 1, "Do %s %s %s", name, token.c_str(), text.c_str());
    }
    InsertOoTagList list = nargs == 5 ? insert_oo_get_attribute(handle, tags) : InsertOoTagList{};
    insert_oo_add_item(handle, new_value(text, std::move(list)), type, token);
}

void insert_oo_add_numeric(int nargs, int last)
{
    if (nargs != 4 && nargs != 5) Abort("insert_oo_add_numeric may have four or five parameters");
    add_number(nargs, last, IOO_TP_NUMERIC, "iinsert_oo_add_numeric");
}

void insert_oo_add_money(int nargs, int last)
{
    if (nargs != 4 && nargs != 5) Abort("insert_oo_add_money may have four or five parameters");
    add_number(nargs, last, IOO_TP_MONEY, "iinsert_oo_add_money");
}

void insert_oo_add_graphic(int nargs, int last)
{
    if (nargs != 3 && nargs != 4) Abort("insert_oo_add_graphic may have three or four parameters");
    InsertOoHandle_t *handle = handle_arg(nargs, last, "iinsert_oo_add_graphic");
    const std::string token = token_arg(nargs, last, "iinsert_oo_add_graphic");
    auto value = new_value(trimmed_arg(nargs, last, 2));
    if (nargs == 4) value->justify = static_cast<std::uint32_t>(intr::integer(arg(nargs, last, 3)));
    if (logging()) {
        if (nargs == 4)
            _mlog(1, 1, "Do iinsert_oo_add_graphic %s %s Justify=%d", token.c_str(), value->text.c_str(),
                  static_cast<int>(value->justify));
        else
            _mlog(1, 1, "Do iinsert_oo_add_graphic %s %s", token.c_str(), value->text.c_str());
    }
    InsertOoValue_t *added = value.get();
    insert_oo_add_item(handle, std::move(value), IOO_TP_GRAPHIC, token);
    insert_oo_add_graphic_id(handle, added);
}

void insert_oo_add_table(int nargs, int)
{
    if (logging()) _mlog(1, 1, "Do insert_oo_add_table [### Not coded yet ###]");
    if (nargs != 5 && nargs != 6) Abort("insert_oo_add_table may have five or six parameters");
}

void insert_oo_add_exclude(int nargs, int last)
{
    if (nargs != 2) Abort("Must have two parameters");
    InsertOoHandle_t *handle = handle_arg(nargs, last, "iinsert_oo_add_exclude");
    insert_oo_add_item(handle, new_value({}), IOO_TP_EXCLUDE, token_arg(nargs, last, "iinsert_oo_add_exclude"));
}

void insert_oo_set_table_multi_row_mode(int nargs, int last)
{
    if (nargs != 2) Abort("Must have two parameters");
    InsertOoHandle_t *handle = handle_arg(nargs, last, "iinsert_oo_set_table_multi_row_mode");
    const std::string token = trimmed_arg(nargs, last, 1);
    for (const InsertOoMultiRow_t &m : handle->multi_table)
        if (m.token == token) return;
    handle->multi_table.push_back({token, nullptr});
}

void insert_oo_remove(int nargs, int last, Stack *result)
{
    if (nargs != 2) Abort("insert_oo_remove must have two parameters");
    if (logging()) _mlog(1, 1, "Do insert_oo_remove");
    InsertOoHandle_t *handle = handle_arg(nargs, last, "iinsert_oo_remove");
    const std::string token = trimmed_arg(nargs, last, 1);
    for (auto t = handle->tokens.begin(); t != handle->tokens.end(); ++t)
        if ((*t)->token == token) {
            handle->tokens.erase(t);
            break;
        }
    intr::set_number(result, 1);
}

void insert_oo_do(int nargs, int last, Stack *result)
{
    if (nargs != 6) Abort("insert_oo_do must have six parameters");
    if (logging()) _mlog(1, 1, "Do insert_oo_do");
    InsertOoHandle_t *handle = handle_arg(nargs, last, "iinsert_oo_do");
    dec_t *cycles_var = numeric_variable(nargs, last, 3, "IINSERT_OO_DO");
    dec_t *size_var = numeric_variable(nargs, last, 5, "IINSERT_OO_DO");
    // Resolved once, before the filling changes the working directory.
    const std::string source = absolute_path(trimmed_arg(nargs, last, 1));
    const int exists = ufexists1(source.c_str());
    if (exists != 1) {
        intr::set_number(result, 0);
        mmessage(1, "Invalid or null source document supplied to iinsert_oo_do - code %d", exists);
        return;
    }
    std::string target = absolute_path(trimmed_arg(nargs, last, 2));
    if (target.empty()) target = source;
    int cycles = 0;
    std::string generator;
    const int done = insert_oo_fill(handle, source.c_str(), target.c_str(), &cycles, &generator);
    NumericCvINT(cycles, cycles_var);
    intr::store_text(arg(nargs, last, 4), generator, "IINSERT_OO_DO");
    NumericCvLONG(insert_oo_get_target_size(target.c_str()), size_var);
    intr::set_number(result, done);
}

// Every IINSERT_OO_ intrinsic runs in background mode too (documents are filled by batch
// programs); each checks its argument count with its own message.
constexpr IntrinsicRow rows[] = {
    {in_IINSERT_OO_ADD_EXCLUDE, insert_oo_add_exclude},
    {in_IINSERT_OO_ADD_GRAPHIC, insert_oo_add_graphic},
    {in_IINSERT_OO_ADD_MONEY, insert_oo_add_money},
    {in_IINSERT_OO_ADD_NOTE, insert_oo_add_note},
    {in_IINSERT_OO_ADD_NUMERIC, insert_oo_add_numeric},
    {in_IINSERT_OO_ADD_TABLE, insert_oo_add_table},
    {in_IINSERT_OO_ADD_TEXT, insert_oo_add_text},
    {in_IINSERT_OO_CREATE, insert_oo_create},
    {in_IINSERT_OO_DESTROY, insert_oo_destroy},
    {in_IINSERT_OO_DO, insert_oo_do},
    {in_IINSERT_OO_REMOVE, insert_oo_remove},
    {in_IINSERT_OO_SET_TABLE_MULTI_ROW_MODE, insert_oo_set_table_multi_row_mode},
};

} // namespace

std::span<const IntrinsicRow> insert_oo_intrinsics() { return rows; }

InsertOoHandle_t *insert_oo_new_handle()
{
    // The tags first: a fault of the file stops the run before there is a handle.
    PrintTag_t *tags = nullptr;
    stop_on(postscript_read_style_tag_config_file(&tags));
    auto *handle = new InsertOoHandle_t;
    handle->tags = tags;
    InsertOoHandle_t **link = &first_handle;
    while (*link) {
        handle->prior = *link;
        link = &(*link)->next;
    }
    *link = handle;
    return handle;
}

InsertOoHandle_t *insert_oo_find_handle(std::uintptr_t number)
{
    for (InsertOoHandle_t *h = first_handle; h; h = h->next)
        if (reinterpret_cast<std::uintptr_t>(h) == number) return h;
    return nullptr;
}

InsertOoHandle_t *insert_oo_live_handle(long number, const char *intrinsic)
{
    if (InsertOoHandle_t *h = insert_oo_find_handle(static_cast<std::uintptr_t>(number))) return h;
    Abort("Invalid OpenOffice document handle %lX passed to %s", static_cast<unsigned long>(number), intrinsic);
}

InsertOoToken_t *insert_oo_add_item(InsertOoHandle_t *handle, std::unique_ptr<InsertOoValue_t> value, std::uint32_t type,
                                    std::string_view token)
{
    value->type = type;
    value->sequence = ++handle->sequence;
    for (auto &t : handle->tokens)
        if (t->token == token) {
            if (t->values.empty()) Abort("insert_oo_add_item: Failed to find item details");
            t->values.push_back(std::move(value));
            return t.get();
        }
    auto entry = std::make_unique<InsertOoToken_t>();
    entry->token = token;
    entry->values.push_back(std::move(value));
    handle->tokens.push_back(std::move(entry));
    return handle->tokens.back().get();
}

int insert_oo_free_handle(InsertOoHandle_t *handle)
{
    (handle->prior ? handle->prior->next : first_handle) = handle->next;
    if (handle->next) handle->next->prior = handle->prior;
    postscript_print_tags_free(handle->tags);
    delete handle;
    return 1;
}

InsertOoTagList insert_oo_get_attribute(InsertOoHandle_t *handle, std::string_view names)
{
    names = trimmed(names);
    InsertOoTagList list;
    std::size_t pos = 0;
    for (bool first = true;; first = false) {
        const std::size_t comma = names.find(',', pos);
        const std::string_view name = names.substr(pos, comma == std::string_view::npos ? comma : comma - pos);
        for (char c : name)
            if (!g_ascii_isalnum(c) && c != '_')
                Abort("Invalid tag name encountered %s", std::string(names.substr(pos)).c_str());
        if (name.empty()) {
            if (first) Abort("Attribute empty");
            return list;
        }
        const PrintTag_t *found = nullptr;
        for (const PrintTag_t *t = handle->tags; t && !found; t = t->next)
            if (name == t->name) found = t;
        if (!found) Abort("Optional insertion format tag %s not found in the tags file", std::string(name).c_str());
        list.push_back(found);
        if (comma == std::string_view::npos) return list;
        pos = comma + 1;
    }
}

std::string insert_oo_parse_text(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == ' ') {
            std::size_t n = 0;
            while (i + n < text.size() && text[i + n] == ' ') ++n;
            if (n > MAX_SPACES) Abort("Too many consequitive spaces");
            out += ' ';
            if (n == 2) out += "<text:s/>";
            if (n > 2) out += "<text:s text:c=\"" + std::to_string(n - 1) + "\"/>";
            i += n;
            continue;
        }
        const std::size_t n = utf8_length(text.substr(i));
        if (n == 0) {
            // Not UTF-8: the replacement character keeps the part well-formed.
            out += REPLACEMENT;
            ++i;
            continue;
        }
        switch (c) {
        case '\t': out += "<text:tab/>"; break;
        case '\r': out += "<text:line-break/>"; break;
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default:
            // Other control characters have no place in XML text: dropped, as LF is.
            if (static_cast<unsigned char>(c) >= 0x20) out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

std::string insert_oo_parse_number(const dec_t *value, int decimals, bool grouping)
{
    const std::string_view text = Convert_BCD(value);
    const std::size_t point = text.find('.');
    const std::string_view integer = text.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    std::string out;
    const std::size_t digits_from = !integer.empty() && integer[0] == '-' ? 1 : 0;
    for (std::size_t i = 0; i < integer.size(); ++i) {
        const std::size_t from_right = integer.size() - i;
        if (grouping && i > digits_from && from_right % 3 == 0) out += ',';
        out += integer[i];
    }
    if (decimals > 0) {
        out += '.';
        for (int i = 0; i < decimals; ++i) out += static_cast<std::size_t>(i) < fraction.size() ? fraction[i] : '0';
    }
    return out;
}

void insert_oo_add_graphic_id(InsertOoHandle_t *handle, InsertOoValue_t *value)
{
    std::uint32_t highest = 0;
    for (const auto &t : handle->tokens)
        for (const auto &v : t->values) {
            if (v->type != IOO_TP_GRAPHIC || v.get() == value) continue;
            if (v->text == value->text && v->justify == value->justify) {
                value->picture = v->picture;
                return;
            }
            if (v->picture > highest) highest = v->picture;
        }
    value->picture = highest + 1;
}

int insert_oo_fill(InsertOoHandle_t *handle, const char *source, const char *target, int *cycles, std::string *generator)
{
    OdfPackage package = insert_oo_open_doc(source);
    std::uint32_t pictures = 0;
    int done = insert_oo_do_content_xml(handle, package, &pictures);
    done &= insert_oo_do_styles_xml(handle, package, &pictures);
    done &= insert_oo_get_meta_data(handle, package, cycles, generator);
    insert_oo_close_doc(package, target);
    // Programs written for the old unpacking in /tmp find their relative paths there still.
    if (chdir("/tmp") != 0) Abort("Error %s when attempting to change the working directory to /tmp", misc_get_error().c_str());
    return done;
}
