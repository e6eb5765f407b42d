// The addresses of a connection's hosts, looked up by the run-time: libpq's own lookup would hold
// a request to end the run for the resolver's whole time-out. libpq is given each address as a
// hostaddr beside its host name (kept for TLS and the password file), so it looks nothing up.
#include <cstdlib>
#include <string>
#include <vector>

#include "libpq_calls.h"
#include "net_resolve.h"
#include "pg_internal.h"

namespace {

// Addresses tried for one name: a name with more is unusual, and each may cost a connect time-out.
constexpr int MAX_PG_ADDRESSES = 8;

std::vector<std::string> split_list(const std::string &text)
{
    std::vector<std::string> items;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        items.push_back(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos) return items;
        from = comma + 1;
    }
}

std::string join(const std::vector<std::string> &items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + items[i];
    return text;
}

// A host libpq reaches without a lookup: a socket directory, an abstract socket or an address.
bool needs_no_lookup(const std::string &host)
{
    if (host.empty() || host[0] == '/' || host[0] == '@') return true;
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
    freeaddrinfo(found);
    return true;
}

// The numeric addresses of host, at most MAX_PG_ADDRESSES; none with libpq's message in error.
std::vector<std::string> addresses(const std::string &host, const NetDeadline &deadline, std::string &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    AddrInfoList found;
    const int rc = net_getaddrinfo(host.c_str(), nullptr, hints, found, deadline);
    std::vector<std::string> out;
    if (rc != 0) {
        // As libpq says it.
        error = "could not translate host name \"" + host + "\" to address: " + net_lookup_error(rc) + "\n";
        return out;
    }
    for (const addrinfo *a = found.get(); a && out.size() < MAX_PG_ADDRESSES; a = a->ai_next) {
        char text[NI_MAXHOST];
        if (getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
            out.emplace_back(text);
    }
    return out;
}

} // namespace

bool pg_address_params(const char *conninfo, const NetDeadline &deadline, PgParams &params, std::string &error)
{
    params = {};
    char *parse_error = nullptr;
    PQconninfoOption *options = libpq().PQconninfoParse(conninfo, &parse_error);
    libpq().PQfreemem(parse_error);
    if (!options) return false;  // libpq tells what is wrong with it
    std::string host, port;
    bool has_hostaddr = false;
    for (const PQconninfoOption *o = options; o->keyword; ++o) {
        if (!o->val) continue;
        const std::string keyword = o->keyword;
        if (keyword == "host") host = o->val;
        else if (keyword == "port") port = o->val;
        else if (keyword == "hostaddr") has_hostaddr = true;
        else params.emplace_back(keyword, o->val);
    }
    libpq().PQconninfoFree(options);
    // What libpq would take from the environment, where the connection text gives nothing.
    if (host.empty() && std::getenv("PGHOST")) host = std::getenv("PGHOST");
    if (port.empty() && std::getenv("PGPORT")) port = std::getenv("PGPORT");
    if (has_hostaddr || std::getenv("PGHOSTADDR") || host.empty()) return false;

    const std::vector<std::string> hosts = split_list(host), ports = split_list(port);
    const bool port_per_host = ports.size() == hosts.size() && hosts.size() > 1;
    std::vector<std::string> names, addrs, each_port;
    bool looked_up = false;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        std::vector<std::string> found;
        if (needs_no_lookup(hosts[i])) {
            found.emplace_back();  // an empty hostaddr: libpq takes the host as it is
        } else {
            looked_up = true;
            found = addresses(hosts[i], deadline, error);
        }
        for (const std::string &a : found) {
            names.push_back(hosts[i]);
            addrs.push_back(a);
            if (port_per_host) each_port.push_back(ports[i]);
        }
    }
    if (!looked_up) return false;
    if (names.empty()) return true;  // no host has an address: error says why
    error.clear();
    params.emplace_back("host", join(names));
    params.emplace_back("hostaddr", join(addrs));
    if (!port.empty()) params.emplace_back("port", port_per_host ? join(each_port) : port);
    return true;
}
