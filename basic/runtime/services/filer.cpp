// IMFILER$: the client of the file server on this machine. An action travels as the string
// coder's words, sent once after connecting; the reply is everything the server sends until it
// closes the connection. Every failure is a reply of its own beginning "FAIL:", so a program
// never stops here.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <glib.h>

#include "documents.h"
#include "misc.h"
#include "net_resolve.h"
#include "net_wait.h"
#include "strcoder.h"

namespace {

char ibuf[FILER_REPLY_SIZE];

const char *reply(const char *format, ...) G_GNUC_PRINTF(1, 2);
const char *reply(const char *format, ...)
{
    std::va_list ap;
    va_start(ap, format);
    std::vsnprintf(ibuf, sizeof ibuf, format, ap);
    va_end(ap);
    return ibuf;
}

// The first IPv4 address of host with port, false when it has none.
bool ipv4_address(const char *host, int port, sockaddr_in *address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    AddrInfoList found;
    if (net_getaddrinfo(host, nullptr, hints, found, NetDeadline(net_timeouts().connect_ms)) != 0 || !found)
        return false;
    std::memcpy(address, found->ai_addr, sizeof *address);
    address->sin_port = htons(static_cast<std::uint16_t>(port));
    return true;
}

struct Socket {
    int fd;
    Socket() : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    ~Socket()
    {
        if (fd >= 0) close(fd);
    }
};

// Connects s to address within the connect time-out; false with errno set when it cannot (a
// server that takes no connections in time: ETIMEDOUT). The socket stays non-blocking: every wait
// on it is the run-time's own, where a signal reaches the safe point.
bool connect_to(const Socket &s, const sockaddr_in &address)
{
    const NetDeadline deadline(net_timeouts().connect_ms);
    fcntl(s.fd, F_SETFL, fcntl(s.fd, F_GETFL) | O_NONBLOCK);
    if (connect(s.fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    switch (net_wait(s.fd, POLLOUT, deadline)) {
    case NetWait::ready: break;
    case NetWait::timed_out: errno = ETIMEDOUT; return false;
    default: return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return false;
    errno = error;
    return error == 0;
}

// Waits until s is ready for events within deadline; false with errno set when it is not.
bool ready(const Socket &s, short events, const NetDeadline &deadline)
{
    switch (net_wait(s.fd, events, deadline)) {
    case NetWait::ready: return true;
    case NetWait::timed_out: errno = ETIMEDOUT; return false;
    default: return false;
    }
}

// Sends every byte, a piece at a time when the socket takes less.
bool send_all(const Socket &s, const char *bytes, std::size_t length)
{
    const NetDeadline deadline(net_timeouts().reply_ms);
    while (length > 0) {
        const ssize_t n = send(s.fd, bytes, length, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            if (!ready(s, POLLOUT, deadline)) return false;
            continue;
        }
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Receives until the server closes: the first FILER_REPLY_SIZE - 1 bytes go into the reply
// buffer, the rest is read and dropped. A connection the server breaks ends the reply as a close
// does. A server that has not closed within the reply time-out has not answered: the reply is
// empty.
void receive_reply(const Socket &s)
{
    const NetDeadline deadline(net_timeouts().reply_ms);
    std::size_t kept = 0;
    char dropped[4096];
    for (;;) {
        const std::size_t room = sizeof ibuf - 1 - kept;
        char *into = room > 0 ? ibuf + kept : dropped;
        const ssize_t n = recv(s.fd, into, room > 0 ? room : sizeof dropped, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            if (ready(s, POLLIN, deadline)) continue;
            if (errno == ETIMEDOUT) kept = 0;
            break;
        }
        if (n <= 0) break;
        if (room > 0) kept += static_cast<std::size_t>(n);
    }
    ibuf[kept] = '\0';
}

} // namespace

const char *filer_client(std::string_view action, int port, const char *host)
{
    if (action.size() > FILER_ACTION_MAX)
        return reply("FAIL:Action too long %d > max %d", static_cast<int>(action.size()),
                     static_cast<int>(FILER_ACTION_MAX));
    std::uint64_t words[FILER_ACTION_MAX / sizeof(std::uint64_t)] = {};
    const std::string text(action);
    const int count = encode_string(text.c_str(), words, sizeof words);
    if (count < 0) return reply("FAIL:Cannot encode message. Too big.");

    sockaddr_in destination{}, source{};
    if (!ipv4_address(host, port, &destination)) return reply("FAIL:Can't configure destination filer");
    // The source address is resolved as the server's side expects of a local client; the
    // connection itself takes whatever address the system gives it.
    if (!ipv4_address("localhost", 0, &source)) return reply("FAIL:Can't configure source filer");

    const Socket s;
    if (s.fd < 0 || !connect_to(s, destination)) return reply("FAIL:Can't connect to filer: %s", misc_get_error().c_str());
    ibuf[0] = '\0';
    if (!send_all(s, reinterpret_cast<const char *>(words), static_cast<std::size_t>(count) * sizeof(std::uint64_t)))
        return reply("FAIL:Can't send to filer: %s", misc_get_error().c_str());
    receive_reply(s);
    if (ibuf[0] == '\0') return reply("FAIL:No response from filer");
    return ibuf;
}
