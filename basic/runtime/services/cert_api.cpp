// The certificate API client over libtls: the site's contract number and TLS configuration, one
// connection per request, the request texts, the status line and the list reply.
#include "cert_api.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <netdb.h>
#include <poll.h>
#include <new>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <openssl/err.h>
#include <openssl/sslerr.h>
#include <tls.h>

#include "gdata.h"
#include "ilist.h"
#include "libtls_calls.h"
#include "message.h"
#include "net_resolve.h"
#include "net_wait.h"
#include "run_time.h"

namespace {

constexpr char COMMON_DATABASE[] = OSKADATA_ROOT "/site/common_database";
constexpr char SERVER_CHAIN[] = OSKADATA_ROOT "/site/server-chain.crt";
constexpr char SERVER_CRL[] = OSKADATA_ROOT "/site/server-chain.crl.pem";
constexpr char API_PORT[] = "443";

int _contract = 0;                 // 0 until read
tls_config *_tls_cfg = nullptr;    // null until made, and again once freed
// The connection whose server ended the stream without a close_notify: libtls answers a later
// read on it with an error of its own, so its end is remembered (cleared when it goes).
const tls *_ended_without_notify = nullptr;

// The socket of the one connection a request has open (libtls does not give it back), and why
// the last wait on it failed ("" when none did).
const tls *open_ctx = nullptr;
int open_fd = -1;
std::string wait_error;

// The text of the last error of ctx: a wait that failed, else libtls's ("" when it has none).
const char *error_of(tls *ctx)
{
    if (!wait_error.empty()) return wait_error.c_str();
    const char *e = libtls().tls_error(ctx);
    return e ? e : "";
}

// What libtls asks for with want (TLS_WANT_POLLIN, TLS_WANT_POLLOUT), waited for on the
// connection's socket until deadline: true when it may go on. A signal reaches the safe point
// meanwhile.
bool wait_for(const tls *ctx, ssize_t want, const NetDeadline &deadline)
{
    if (ctx != open_ctx || open_fd < 0) {
        wait_error = "no socket to wait on";
        return false;
    }
    switch (net_wait(open_fd, want == TLS_WANT_POLLIN ? POLLIN : POLLOUT, deadline)) {
    case NetWait::ready: return true;
    case NetWait::timed_out: wait_error = "server did not answer in time"; return false;
    default: wait_error = std::strerror(errno); return false;
    }
}

struct TlsConfigFree {
    void operator()(tls_config *config) const { libtls().tls_config_free(config); }
};

// A site file read whole; wiped when it goes, since one of them is the private key.
struct Loaded {
    std::vector<std::uint8_t> bytes;
    Loaded() = default;
    Loaded(const Loaded &) = delete;
    Loaded &operator=(const Loaded &) = delete;
    ~Loaded()
    {
        if (!bytes.empty()) explicit_bzero(bytes.data(), bytes.size());
    }
};

// Reads the whole file at path into bytes; false when it cannot be opened or read.
bool read_whole(const std::string &path, std::vector<std::uint8_t> &bytes)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    close(fd);
    return ok;
}

// The path of a file of the contract: pattern holds two %d, both the contract number.
std::string contract_file(const char *pattern, int contract)
{
    char path[256];
    std::snprintf(path, sizeof path, pattern, contract, contract);
    return path;
}

// Loads path into file; on failure logs "<log format>" (routine, path) and stops with the abort
// text (path); on success logs the success line (path).
void load(Loaded &file, const std::string &path, const char *failure_log, const char *abort_text,
          const char *success_log)
{
    if (!read_whole(path, file.bytes)) {
        mlog(3, failure_log, "api_tls_init", path.c_str());
        Abort(abort_text, path.c_str());
    }
    mlog(3, success_log, path.c_str());
}

// A TCP connection to the server, made here rather than by libtls so that its descriptor is
// close-on-exec: the first of the host's addresses that accepts. -1 with the reason in error.
// Connects fd within the connect time-out (ETIMEDOUT when the server takes no connection). The
// socket stays non-blocking: every wait on it is the run-time's own.
bool connect_within(int fd, const sockaddr *address, socklen_t size)
{
    const NetDeadline deadline(net_timeouts().connect_ms);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (connect(fd, address, size) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    switch (net_wait(fd, POLLOUT, deadline)) {
    case NetWait::ready: break;
    case NetWait::timed_out: errno = ETIMEDOUT; return false;
    default: return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    errno = error;
    return error == 0;
}

int connect_server(std::string &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    AddrInfoList addresses;
    const int rc = net_getaddrinfo(CERT_API_HOST, API_PORT, hints, addresses, NetDeadline(net_timeouts().connect_ms));
    if (rc != 0) {
        error = std::string("getaddrinfo: ") + net_lookup_error(rc);
        return -1;
    }
    int fd = -1;
    for (const addrinfo *a = addresses.get(); a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = std::string("socket: ") + std::strerror(errno);
        } else if (!connect_within(fd, a->ai_addr, a->ai_addrlen)) {
            error = std::string("connect: ") + std::strerror(errno);
            close(fd);
            fd = -1;
        }
    }
    return fd;
}

// True when the read that failed on ctx met the end of the TCP stream without the server's TLS
// close_notify. HTTP/1.0 ends a reply with the end of the stream, so a server that drops the
// connection once it has answered has still given its whole reply: that is the end of the data,
// not a failed read. libtls gives only the error's text, so it is matched against the library's
// own text of that error.
bool ended_without_close_notify(tls *ctx)
{
    static const std::string eof_text = [] {
        char text[256];
        ERR_error_string_n(ERR_PACK(ERR_LIB_SSL, 0, SSL_R_UNEXPECTED_EOF_WHILE_READING), text, sizeof text);
        return std::string(text);
    }();
    return std::strstr(error_of(ctx), eof_text.c_str()) != nullptr;
}

[[noreturn]] void refuse_configuration(const char *log_format, const char *message)
{
    mlog(3, log_format, "api_tls_init");
    Abort("%s", message);
}

// ---- Lists ------------------------------------------------------------------------------------

// Stops the run unless list is a live list of strings; missing and wrong_kind are the two texts
// (missing takes the handle as %p, both may take the intrinsic's name first).
void check_string_list(IList_t *list, const char *missing, const char *wrong_kind, const char *name = nullptr)
{
    const int type = ilist_type(list);
    if (type == 0) {
        if (name) Abort(missing, name, static_cast<void *>(list));
        Abort(missing, static_cast<void *>(list));
    }
    if (!(type & ILIST_STRING)) {
        if (name) Abort(wrong_kind, name);
        Abort("%s", wrong_kind);
    }
}

// An element's text without its trailing blanks.
std::string stripped(const IListElt_t *element)
{
    std::string text = element->value.text ? element->value.text : "";
    strip(text);
    return text;
}

// Stops the run when an element of list holds a control character: a line break would add
// lines to the request body, so that one element approved or revoked more certificates. The
// message takes the element's position (from 1) last; what is the list's name in it, with the
// intrinsic's name before it when name is given.
void check_printable(IList_t *list, const char *message, const char *name = nullptr)
{
    int position = 1;
    for (const IListElt_t *e = list->head; e; e = e->next, ++position) {
        for (const char *p = e->value.text ? e->value.text : ""; *p; ++p) {
            const auto c = static_cast<unsigned char>(*p);
            if (c >= 0x20 && c != 0x7f) continue;
            if (name) Abort(message, name, position);
            Abort(message, position);
        }
    }
}

void append(IList_t *list, const std::string &text)
{
    ilist_addselt(list, text.c_str(), static_cast<int>(text.size()), 0, nullptr);
}

// ---- Requests -----------------------------------------------------------------------------------

std::string post(const char *path, const std::string &body)
{
    return std::string("POST /") + path + " HTTP/1.0\r\nHost: " CERT_API_HOST
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// What every request does once its arguments are checked: connect, build and write the request,
// read the status line and, on 200, hand the connection to reply for the rest. routine names the
// request in the log; build_log is the log text of a request that cannot be built. Returns the
// status: the server's, 0 for a malformed status line, 501 for a local failure.
int request(const char *routine, const std::function<std::string()> &build, const char *build_log, bool log_request,
            const std::function<void(tls *)> &reply = nullptr)
{
    int status = 200;
    const std::unique_ptr<ApiConnection> connection = api_bring_up_tls();
    tls *ctx = connection->get();
    std::string text;
    try {
        text = build();
    } catch (const std::bad_alloc &) {
        mlog(3, build_log, routine);
        status = 501;
    }
    if (status == 200 && api_tls_write(ctx, text.data(), text.size()) != 0) {
        mlog(3, "%s: tls_write(): %s", routine, error_of(ctx));
        status = 501;
    }
    if (status == 200) {
        if (log_request) mlog(3, "request:\n%s\n", text.c_str());
        std::optional<std::string> line = api_tls_getline(ctx);
        if (!line) {
            mlog(3, "%s: rpc_tls_getline", routine);
            status = 501;
        } else {
            chomp(*line);
            status = get_status_code(line->c_str());
            if (status >= 500 && status <= 599)
                mlog(3, "%s: temp fail: %s", routine, line->c_str());
            else if (status != 200)
                mlog(3, "%s: hard fail: %s", routine, line->c_str());
            else if (reply)
                reply(ctx);
        }
    }
    int closed;
    const NetDeadline deadline(net_timeouts().reply_ms);
    do closed = libtls().tls_close(ctx);
    while ((closed == TLS_WANT_POLLIN || closed == TLS_WANT_POLLOUT) && wait_for(ctx, closed, deadline));
    if (closed != 0) mlog(3, "%s: tls_close: %s", routine, error_of(ctx));
    return status;
}

// White space of the POSIX locale, whatever locale the windows have set since.
bool white(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The next field of line from position i: white space passed over, then up to the next white
// space; empty when the line has ended.
std::string field(const std::string &line, std::size_t &i)
{
    while (i < line.size() && white(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !white(line[i])) ++i;
    return line.substr(start, i - start);
}

// The list reply after its status line: header lines dropped, then each body line's certificate,
// status and DN (the rest of the line, blanks inside it kept) appended to the lists.
void read_list(tls *ctx, IList_t *dns, IList_t *states, IList_t *certificates)
{
    for (;;) {
        std::optional<std::string> line = api_tls_getline(ctx);
        if (!line || line->empty() || (*line)[0] == '\n' || *line == "\r\n") break;
    }
    for (;;) {
        std::optional<std::string> line = api_tls_getline(ctx);
        if (!line || line->empty()) break;
        chomp(*line);
        std::size_t i = 0;
        const std::string certificate = field(*line, i);
        const std::string state = field(*line, i);
        while (i < line->size() && white((*line)[i])) ++i;
        append(certificates, certificate);
        append(states, state);
        append(dns, line->substr(i));
    }
}

bool list_type(std::string type)
{
    for (char &c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return type == "expired" || type == "pending" || type == "revoked" || type == "valid";
}

} // namespace

int oska_contract()
{
    if (_contract == 0) {
        std::FILE *f = std::fopen(COMMON_DATABASE, "re");
        if (!f) Abort("Cannot open common_database file %s", COMMON_DATABASE);
        int contract = 0;
        const int matched = std::fscanf(f, "cdb%d", &contract);
        std::fclose(f);
        if (matched != 1) Abort("Cannot read contruct number from common_database file %s", COMMON_DATABASE);
        _contract = contract;
    }
    return _contract;
}

tls_config *api_tls_init()
{
    if (_tls_cfg) return _tls_cfg;
    std::unique_ptr<tls_config, TlsConfigFree> config(libtls().tls_config_new());
    if (!config) refuse_configuration("%s: tls_config_new", "Cannot create TLS config");
    // Its release at exit is the services' clean-up hook (registration.cpp), set before any
    // configuration can exist.

    const int contract = oska_contract();
    Loaded ca, certificate, crl, key;
    load(ca, SERVER_CHAIN, "%s: cannot load ca cert %s", "Cannot load CA certificate %s", "using ca cert: %s");
    load(certificate, contract_file(OSKADATA_ROOT "/%d/ssl/apic%d.crt", contract), "%s: cannot load client cert %s",
         "Cannot load container certificate for API %s", "using server cert: %s");
    load(crl, SERVER_CRL, "%s: cannot load crl %s", "Cannot load CRL file %s", "using CRL file: %s");
    load(key, contract_file(OSKADATA_ROOT "/%d/ssl/apic%d.key", contract), "%s: cannot load key %s",
         "Cannot load key file for client certificate %s", "using certificate key: %s");

    if (libtls().tls_config_set_keypair_mem(config.get(), certificate.bytes.data(), certificate.bytes.size(),
                                            key.bytes.data(), key.bytes.size()) != 0)
        refuse_configuration("%s: cannot configure tls keypair", "cannot configure tls keypair");
    if (libtls().tls_config_set_ca_mem(config.get(), ca.bytes.data(), ca.bytes.size()) != 0)
        refuse_configuration("%s: cannot configure tls ca:", "cannot configure tls ca:");
    if (libtls().tls_config_set_crl_mem(config.get(), crl.bytes.data(), crl.bytes.size()) != 0)
        refuse_configuration("%s: cannot configure tls crl", "cannot configure tls crl");
    _tls_cfg = config.release();
    return _tls_cfg;
}

void api_tls_config_free()
{
    if (_tls_cfg) libtls().tls_config_free(_tls_cfg);
    _tls_cfg = nullptr;
}

ApiConnection::~ApiConnection()
{
    if (_ended_without_notify == ctx_) _ended_without_notify = nullptr;
    if (open_ctx == ctx_) {
        open_ctx = nullptr;
        open_fd = -1;
    }
    libtls().tls_free(ctx_);
    if (fd_ >= 0) close(fd_);
}

void ApiConnection::set_socket(int fd)
{
    fd_ = fd;
    open_ctx = ctx_;
    open_fd = fd;
    wait_error.clear();
}

std::unique_ptr<ApiConnection> api_bring_up_tls()
{
    static const char routine[] = "api_bring_up_tls";
    tls_config *config = api_tls_init();
    tls *ctx = libtls().tls_client();
    if (!ctx) {
        mlog(3, "%s: tls_client()", routine);
        Abort("tls_client() failed");
    }
    auto connection = std::make_unique<ApiConnection>(ctx);
    auto refuse = [&](const char *step, std::string error) {
        after_library_failure();  // a signal that cut the step short ends the run as a signal does
        mlog(3, "%s: %s(): %s", routine, step, error.c_str());
        connection.reset();
        Abort("%s() failed: %s", step, error.c_str());
    };
    auto library_error = [&] { return std::string(error_of(ctx)); };
    if (libtls().tls_configure(ctx, config) != 0) refuse("tls_configure", library_error());
    std::string error;
    const int fd = connect_server(error);
    if (fd < 0) refuse("tls_connect", error);
    connection->set_socket(fd);
    if (libtls().tls_connect_socket(ctx, fd, CERT_API_HOST) != 0) refuse("tls_connect", library_error());
    return connection;
}

int api_tls_write(tls *ctx, const char *bytes, std::size_t length)
{
    const NetDeadline deadline(net_timeouts().reply_ms);
    while (length > 0) {
        const ssize_t n = libtls().tls_write(ctx, bytes, length);
        if (n == TLS_WANT_POLLIN || n == TLS_WANT_POLLOUT) {
            if (wait_for(ctx, n, deadline)) continue;
            return 1;
        }
        if (n < 0) return 1;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::optional<std::string> api_tls_getline(tls *ctx)
{
    std::string line;
    if (ctx == _ended_without_notify) return line;
    const NetDeadline deadline(net_timeouts().reply_ms);
    try {
        for (;;) {
            char c;
            ssize_t n = libtls().tls_read(ctx, &c, 1);
            if ((n == TLS_WANT_POLLIN || n == TLS_WANT_POLLOUT) && wait_for(ctx, n, deadline)) continue;
            if (n == TLS_WANT_POLLIN || n == TLS_WANT_POLLOUT) n = -1;
            // An end without close_notify after the reply is its end; a wait that ran out is not.
            if (n < 0 && wait_error.empty() && ended_without_close_notify(ctx)) {
                _ended_without_notify = ctx;
                break;
            }
            if (n < 0) {
                mlog(3, "%s: tls_read: %s", "api_tls_getline", error_of(ctx));
                return std::nullopt;
            }
            if (n == 0) break;
            line += c;
            if (c == '\n') break;
        }
    } catch (const std::bad_alloc &) {
        mlog(3, "%s: reallocarray", "api_tls_getline");
        return std::nullopt;
    }
    return line;
}

int get_status_code(const char *line)
{
    static const char routine[] = "get_status_code";
    if (!line) {
        mlog(3, "%s: called with null argument", routine);
        return 0;
    }
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    if (std::strncmp(line, "HTTP/", 5) == 0) {
        const char *p = line + 5;
        while (digit(*p) || *p == '.') ++p;
        while (blank(*p)) ++p;
        if (std::strlen(p) > 3 && digit(p[0]) && digit(p[1]) && digit(p[2]) && blank(p[3]))
            return (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
    }
    mlog(3, "%s: bad status line: %s", routine, line);
    return 0;
}

void chomp(std::string &text)
{
    for (int i = 0; i < 2 && !text.empty() && (text.back() == '\r' || text.back() == '\n'); ++i) text.pop_back();
}

void strip(std::string &text)
{
    while (!text.empty() && text.back() == ' ') text.pop_back();
}

int cert_approve(IList_t *certificates)
{
    check_string_list(certificates, "icert_approve: No list exists with handle %p\n",
                      "icert_approve: List is not a character string list!");
    // A request without a certificate would have no body to send.
    if (ilist_length(certificates) == 0) Abort("icert_approve: List cert is empty!");
    check_printable(certificates, "icert_approve: List element %d holds a control character!");
    auto build = [&] {
        std::string body;
        for (const IListElt_t *e = certificates->head; e; e = e->next) body += stripped(e) + "\r\n";
        return post("approve", body);
    };
    return request("cert_approve", build, "%s: asprintf()", true);
}

int cert_list(IList_t *dns, IList_t *states, IList_t *certificates, const char *type)
{
    check_string_list(certificates, "icert_list: No list_cert exists with handle %p\n",
                      "icert_list: List_cert is not a character string list!");
    check_string_list(states, "icert_list: No list_status exists with handle %p\n",
                      "icert_list: List_status is not a character string list!");
    check_string_list(dns, "icert_list: No list_dn exists with handle %p\n",
                      "icert_list: List_dn is not a character string list!");
    if (type && !list_type(type))
        Abort("icert_list: type argument must be one of 'expired', 'pending', 'revoked' and 'valid'");
    auto build = [&] {
        return std::string("GET /list") + (type ? "?" : "") + (type ? type : "") +
               " HTTP/1.0\r\nHost: " CERT_API_HOST "\r\nContent-Type: text/plain\r\n\r\n";
    };
    return request("cert_list", build, "%s: asprintf() 3", false,
                   [&](tls *ctx) { read_list(ctx, dns, states, certificates); });
}

int cert_reject_revoke(IList_t *certificates, IList_t *states, int reject)
{
    const char *name = reject ? "reject" : "revoke";
    check_string_list(states, "icert_%s: No list_status exists with handle %p\n",
                      "icert_%s: List_status is not a character string list!", name);
    check_string_list(certificates, "icert_%s: No list_cert exists with handle %p\n",
                      "icert_%s: List_cert is not a character string list!", name);
    const int n = ilist_length(certificates), m = ilist_length(states);
    if (n != m) Abort("icert_%s: Length of List_cert (%d) != Length of List_status (%d) !", name, n, m);
    if (n == 0) Abort("icert_%s: List cert is empty!", name);
    check_printable(certificates, "icert_%s: List_cert element %d holds a control character!", name);
    check_printable(states, "icert_%s: List_status element %d holds a control character!", name);
    auto build = [&] {
        std::string body;
        for (const IListElt_t *c = certificates->head, *s = states->head; c && s; c = c->next, s = s->next)
            body += stripped(c) + " " + stripped(s) + "\r\n";
        return post(name, body);
    };
    return request("cert_reject_revoke", build, "%s: asprintf()", true);
}
