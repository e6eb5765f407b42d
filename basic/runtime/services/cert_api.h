// The certificate API client: ICERT_APPROVE, ICERT_LIST, ICERT_REJECT and ICERT_REVOKE each open
// one TLS connection (libtls) to the certificate API server CERT_API_HOST, port 443, with the
// site's client certificate, send one HTTP/1.0 request with a plain-text body and answer with the
// HTTP status of the reply: 0 for a malformed status line, 501 for a failure once connected
// (building or writing the request, no status line). Certificates, their states and their DNs
// travel as program lists of strings. Every log line is written at run-time log level 3.
//
// The site files under OSKADATA_ROOT (contract number, server CA chain and CRL, the contract's
// client certificate and key) are read when the first request is made; the TLS configuration made
// from them lasts until the run-time's clean-up at exit.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

struct IList_t;
struct tls;
struct tls_config;

// The contract number of site/common_database ("cdb" and the number), read once. Stops the run
// with "Cannot open common_database file %s" or "Cannot read contruct number from common_database
// file %s".
int oska_contract();

// The shared configuration (CA, CRL, client key pair), made on first need; every fault stops the
// run. api_tls_config_free releases it (the exit clean-up); a later request makes it afresh.
tls_config *api_tls_init();
void api_tls_config_free();

// A connection to the server: the client context and the socket under it (close-on-exec, like
// every descriptor of the run-time), both released when it goes.
class ApiConnection {
public:
    explicit ApiConnection(tls *ctx) : ctx_(ctx) {}
    ApiConnection(const ApiConnection &) = delete;
    ApiConnection &operator=(const ApiConnection &) = delete;
    ~ApiConnection();
    tls *get() const { return ctx_; }
    // The connected socket, closed with the connection; its waits are the run-time's own.
    void set_socket(int fd);

private:
    tls *ctx_;
    int fd_ = -1;
};

// A client context configured and connected to the server; the handshake happens at the first
// write. Stops the run when the context cannot be made, configured or connected.
std::unique_ptr<ApiConnection> api_bring_up_tls();

// Writes all length bytes: 0 when they were written, 1 on failure.
int api_tls_write(tls *ctx, const char *bytes, std::size_t length);

// One received line with its line feed, or what came before the end of the data (an empty text
// once the data has ended); nothing on a read failure, which is logged. A server that ends the
// stream without a TLS close_notify has ended the data.
std::optional<std::string> api_tls_getline(tls *ctx);

// The status code of an HTTP status line ("HTTP/", version digits and dots, blanks, three digits
// and a blank, then at least one more character), 0 (logged) when it is malformed or null.
int get_status_code(const char *line);

// Remove up to two trailing CR or LF characters / every trailing space character.
void chomp(std::string &text);
void strip(std::string &text);

// The requests. Each checks its lists and stops the run on a fault, with the texts of the
// intrinsic it serves (an element holding a control character is one: nothing is sent); the
// result is the request's status as above.
int cert_approve(IList_t *certificates);
// Appends each body line's certificate, status and DN to the three lists on status 200 only;
// type is null or one of "expired", "pending", "revoked", "valid" (any case), sent as given.
int cert_list(IList_t *dns, IList_t *states, IList_t *certificates, const char *type);
// reject 1: /reject, 0: /revoke; the lists pair by position.
int cert_reject_revoke(IList_t *certificates, IList_t *states, int reject);
