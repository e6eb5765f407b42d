// The pieces every directory operation uses: the session of a call, searches and new entries,
// values escaped for DNs, filters and postal addresses, cuts that keep UTF-8 characters whole,
// cleaned telephone numbers, the composed address and attribute values read from files.
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include "gdata.h"
#include "ldap_internal.h"
#include "libldap_calls.h"
#include "mem_mgt.h"
#include "message.h"
#include "net_resolve.h"
#include "net_wait.h"
#include "shared_files.h"

// ---- Sessions, searches and new entries ---------------------------------------------------------

LdapSession::~LdapSession()
{
    if (ld_) libldap().ldap_unbind_ext_s(ld_, nullptr, nullptr);
}

void LdapSession::close(const char *unbind_message)
{
    LDAP *ld = std::exchange(ld_, nullptr);
    if (!ld) return;
    const int rc = ldap_answer(libldap().ldap_unbind_ext_s(ld, nullptr, nullptr));
    if (rc != LDAP_SUCCESS) Abort("%s %s", unbind_message, ldap_text(rc));
}

LdapSearch::LdapSearch(LDAP *ld, const std::string &base, int scope, const std::string &filter,
                       std::initializer_list<const char *> attrs)
    : ld_(ld)
{
    std::vector<char *> names;
    for (const char *a : attrs) names.push_back(const_cast<char *>(a));
    if (names.empty()) names.push_back(const_cast<char *>(LDAP_NO_ATTRS));
    names.push_back(nullptr);
    code_ = ldap_answer(libldap().ldap_search_ext_s(ld, base.c_str(), scope, filter.c_str(), names.data(), 0, nullptr,
                                                    nullptr, nullptr, LDAP_NO_LIMIT, &answer_));
}

LdapSearch::~LdapSearch()
{
    if (answer_) libldap().ldap_msgfree(answer_);
}

int LdapSearch::count() const
{
    const int n = answer_ ? libldap().ldap_count_entries(ld_, answer_) : 0;
    return n > 0 ? n : 0;
}

std::vector<std::vector<std::string>> LdapSearch::values(const char *attr) const
{
    std::vector<std::vector<std::string>> all;
    if (!answer_) return all;
    for (LDAPMessage *e = libldap().ldap_first_entry(ld_, answer_); e; e = libldap().ldap_next_entry(ld_, e)) {
        std::vector<std::string> these;
        if (berval **v = libldap().ldap_get_values_len(ld_, e, attr)) {
            for (berval **p = v; *p; ++p) these.emplace_back((*p)->bv_val, (*p)->bv_len);
            libldap().ldap_value_free_len(v);
        }
        all.push_back(std::move(these));
    }
    return all;
}

LdapEntry &LdapEntry::add(const char *attr, std::vector<std::string> values)
{
    std::erase(values, std::string());
    if (!values.empty()) attrs_.emplace_back(attr, std::move(values));
    return *this;
}

int LdapEntry::send(LDAP *ld, const std::string &dn) const
{
    std::vector<std::vector<berval>> bvals(attrs_.size());
    std::vector<std::vector<berval *>> pointers(attrs_.size());
    std::vector<LDAPMod> mods(attrs_.size());
    std::vector<LDAPMod *> list;
    for (std::size_t i = 0; i < attrs_.size(); ++i) {
        for (const std::string &v : attrs_[i].second)
            bvals[i].push_back({static_cast<ber_len_t>(v.size()), const_cast<char *>(v.data())});
        for (berval &b : bvals[i]) pointers[i].push_back(&b);
        pointers[i].push_back(nullptr);
        mods[i].mod_op = LDAP_MOD_ADD | LDAP_MOD_BVALUES;
        mods[i].mod_type = const_cast<char *>(attrs_[i].first);
        mods[i].mod_bvalues = pointers[i].data();
        list.push_back(&mods[i]);
    }
    list.push_back(nullptr);
    return ldap_answer(libldap().ldap_add_ext_s(ld, dn.c_str(), list.data(), nullptr, nullptr));
}

std::string LdapEntry::value(const char *attr, std::size_t index) const
{
    for (const auto &[name, values] : attrs_)
        if (std::strcmp(name, attr) == 0) return index < values.size() ? values[index] : "";
    return "";
}

const char *ldap_text(int code) { return libldap().ldap_err2string(code); }

int ldap_answer(int rc)
{
    if (rc != LDAP_SUCCESS) after_library_failure();
    return rc;
}

namespace {

// Addresses tried for one name: a name with more is unusual, and each costs a connect time-out.
constexpr int MAX_LDAP_ADDRESSES = 8;

} // namespace

std::string ldap_address_uri(const char *uri)
{
    const std::string text = uri ? uri : "", scheme = "ldap://";
    if (text.compare(0, scheme.size(), scheme) != 0 || text.size() == scheme.size() || text.back() != '/') return text;
    const std::string hostport = text.substr(scheme.size(), text.size() - scheme.size() - 1);
    std::string host = hostport, port = "389";
    if (!hostport.empty() && hostport[0] == '[') return text;  // an address already
    if (const auto colon = hostport.find(':'); colon != std::string::npos) {
        if (hostport.find(':', colon + 1) != std::string::npos) return text;
        host = hostport.substr(0, colon);
        port = hostport.substr(colon + 1);
    }
    if (host.empty()) return text;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    AddrInfoList found;
    if (net_getaddrinfo(host.c_str(), nullptr, hints, found, NetDeadline(net_timeouts().connect_ms)) != 0) {
        mlog(0, "ldap: no address for %s", host.c_str());
        return "";
    }
    std::string uris;
    int count = 0;
    for (const addrinfo *a = found.get(); a && count < MAX_LDAP_ADDRESSES; a = a->ai_next, ++count) {
        char address[NI_MAXHOST];
        if (getnameinfo(a->ai_addr, a->ai_addrlen, address, sizeof address, nullptr, 0, NI_NUMERICHOST) != 0) continue;
        const bool v6 = a->ai_family == AF_INET6;
        if (!uris.empty()) uris += ' ';
        uris += scheme + (v6 ? "[" : "") + address + (v6 ? "]" : "") + ":" + port + "/";
    }
    return uris;
}

namespace {

timeval timeval_of(int ms) { return {ms / 1000, (ms % 1000) * 1000}; }

} // namespace

void ldap_limit_waits(LDAP *ld)
{
    const timeval connect = timeval_of(net_timeouts().connect_ms), reply = ldap_reply_timeout();
    libldap().ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &connect);
    libldap().ldap_set_option(ld, LDAP_OPT_TIMEOUT, &reply);
}

timeval ldap_reply_timeout() { return timeval_of(net_timeouts().reply_ms); }

int modify_value(LDAP *ld, const char *dn, const char *attr, int operation, const berval &value)
{
    berval copy = value;
    berval *values[] = {&copy, nullptr};
    LDAPMod mod{};
    mod.mod_op = operation | LDAP_MOD_BVALUES;
    mod.mod_type = const_cast<char *>(attr);
    mod.mod_bvalues = values;
    LDAPMod *mods[] = {&mod, nullptr};
    return ldap_answer(libldap().ldap_modify_ext_s(ld, dn, mods, nullptr, nullptr));
}

// ---- Values --------------------------------------------------------------------------------------

std::string dn_value(std::string_view value)
{
    std::string out;
    out.reserve(value.size() + 8);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\0') {
            out += "\\00";
            continue;
        }
        const bool special = std::strchr("\"+,;<>\\", c) != nullptr;
        const bool at_edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == value.size() && c == ' ');
        if (special || at_edge) out += '\\';
        out += c;
    }
    return out;
}

std::string filter_value(std::string_view value)
{
    berval in{static_cast<ber_len_t>(value.size()), const_cast<char *>(value.data())}, out{0, nullptr};
    if (libldap().ldap_bv2escaped_filter_value(&in, &out) != 0) Abort("filter_value: no memory");
    std::string escaped(out.bv_val ? out.bv_val : "", out.bv_len);
    libldap().ber_memfree(out.bv_val);
    return escaped;
}

std::string cut_utf8(std::string_view text, std::size_t max)
{
    if (text.size() <= max) return std::string(text);
    std::size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return std::string(text.substr(0, n));
}

bool same_ignoring_case(const std::string &a, const std::string &b) { return g_ascii_strcasecmp(a.c_str(), b.c_str()) == 0; }

char *phone_validation(const char *text)
{
    const std::size_t n = text ? std::strlen(text) : 0;
    auto *out = static_cast<char *>(salloc(n + 1));
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (!std::strchr(" ()-.:", text[i])) out[k++] = text[i];
    out[k] = '\0';
    return out;
}

std::string cleaned_phone(const char *text)
{
    char *c = phone_validation(text);
    std::string s = c;
    sfree(c);
    return s;
}

void replace_value(LDAP *ld, const std::string &dn, const char *attr, const std::string &value)
{
    oska_ldap_setattr(ld, dn.c_str(), attr, LDAP_MOD_REPLACE, value.c_str());
}

void replace_given(LDAP *ld, const std::string &dn, const char *attr, const char *argument, bool phone)
{
    if (!empty_arg(argument)) replace_value(ld, dn, attr, phone ? cleaned_phone(argument) : argument);
}

std::string unit_dn(const char *unit) { return std::string("ou=") + unit + "," + arg_text(base_dn); }

std::string entry_dn(const char *attr, std::string_view value, const char *unit)
{
    return std::string(attr) + "=" + dn_value(value) + "," + unit_dn(unit);
}

namespace {

// The postal-address syntax separates lines by "$" and escapes "$" and "\" inside a line.
std::string postal_value(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if (c == '$') out += "\\24";
        else if (c == '\\') out += "\\5C";
        else out += c;
    }
    return out;
}

} // namespace

ComposedAddress compose_address(const char *line1, const char *line2, const char *locality, const char *state,
                                const char *postal_code, const char *final_line, std::size_t street_max)
{
    const std::string gap = empty_arg(line2) ? "" : " ";
    const std::string lines = arg_text(line1) + gap + arg_text(line2);
    std::string registered = lines + ", " + arg_text(locality) + " " + arg_text(state) +
                             (empty_arg(postal_code) ? "" : ", ") + arg_text(postal_code) +
                             (empty_arg(final_line) ? "" : ", ") + arg_text(final_line);
    return {cut_utf8(lines, street_max), postal_value(cut_utf8(registered, COMPOSED_VALUE_MAX))};
}

// ---- Values read from files ----------------------------------------------------------------------

void store_file_value(LDAP *ld, const std::string &dn, const char *path, const char *attr, const FileValueMessages &m)
{
    if (empty_arg(path) || path[0] == ' ') return;
    // Not blocking on a FIFO, and only regular files: anything else is a file that does not open;
    // so is, below a shared directory, a link or a file of another user's.
    const int fd = open_to_read(path, O_NONBLOCK);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0 || lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        Abort("%s: error reading %s file", m.operation, m.file_kind);
    }
    const std::size_t size = static_cast<std::size_t>(end);
    auto *bytes = static_cast<char *>(std::malloc(size ? size : 1));
    if (!bytes) {
        ::close(fd);
        Abort("%s: can't allocate %ld bytes for %s", m.operation, static_cast<long>(size), m.what);
    }
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, bytes + got, size - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got != size) {
        std::free(bytes);
        Abort("%s: error reading %s file", m.operation, m.file_kind);
    }
    const int rc = modify_value(ld, dn.c_str(), attr, LDAP_MOD_REPLACE, {static_cast<ber_len_t>(size), bytes});
    std::free(bytes);
    if (rc != LDAP_SUCCESS) Email(SUPPORT_ADDRESS, "%s (dn:%s, %s): %d -- %s", m.mail_operation, dn.c_str(), m.what, rc, ldap_text(rc));
}
