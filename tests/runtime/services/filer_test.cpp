// IMFILER$ against a stub file server: a thread listening on 127.0.0.1:55199 in this test
// program's private network namespace (the program runs under isolate) decodes the words it gets
// with the common library's decoder, then answers in the pieces a case gives and closes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "documents.h"
#include "net_wait.h"
#include "pg_fixture.h"
#include "stall.h"
#include "strcoder.h"

namespace {

// One connection: the decoded action (or what went wrong with it), then the reply pieces.
class FilerStub {
public:
    explicit FilerStub(std::vector<std::string> pieces) : pieces_(std::move(pieces))
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(FILER_PORT);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listener_, 1) != 0)
            ADD_FAILURE() << "stub: " << std::strerror(errno);
        thread_ = std::thread([this] { serve(); });
    }
    ~FilerStub()
    {
        thread_.join();
        close(listener_);
    }
    FilerStub(const FilerStub &) = delete;
    FilerStub &operator=(const FilerStub &) = delete;

    // After the client's call: what the action decoded to, and the words it came in.
    const std::string &action() const { return action_; }
    std::size_t words() const { return words_.size(); }

private:
    void serve()
    {
        const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        const int on = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        read_message(c);
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
            // A pause between pieces, so that each reaches the client as a receive of its own.
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            send(c, pieces_[i].data(), pieces_[i].size(), MSG_NOSIGNAL);
        }
        close(c);
    }

    // The message: what the client sends in one go (until nothing more comes for a moment), then
    // the decoder's text of it.
    void read_message(int c)
    {
        std::string bytes;
        char buffer[8192];
        pollfd p{c, POLLIN, 0};
        do {
            const ssize_t n = recv(c, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
        } while (poll(&p, 1, 100) == 1);
        words_.resize(bytes.size() / sizeof(std::uint64_t));
        std::memcpy(words_.data(), bytes.data(), words_.size() * sizeof(std::uint64_t));
        std::vector<char> text(FILER_ACTION_MAX + 1);
        if (bytes.size() % sizeof(std::uint64_t) != 0)
            action_ = "(" + std::to_string(bytes.size()) + " bytes: no whole words)";
        else if (decode_string(words_.data(), words_.size(), text.data(), text.size()) != 0)
            action_ = "(checksum failed)";
        else
            action_ = text.data();
    }

    std::vector<std::string> pieces_;
    int listener_ = -1;
    std::thread thread_;
    std::string action_;
    std::vector<std::uint64_t> words_;
};

class Filer : public ::testing::Test, public lumba_test::IntrinsicCall {
public:
    std::string mfiler(const std::string &action) { return text(in_IMFILER, {str(action)}); }
};

} // namespace

TEST_F(Filer, TheActionArrivesCodedAndTheReplyWhole)
{
    const std::string long_reply(2000, 'r');
    struct {
        const char *name;
        std::string action;
        std::vector<std::string> pieces;
        std::string reply;
        std::size_t words;
    } cases[] = {
        {"a short action", "list /home/docs", {"OK:3 files"}, "OK:3 files", 4},
        {"the empty action", "", {"OK"}, "OK", 3},
        {"bytes above 0x7f filling one word", "gr\xc3\xb6\xc3\x9f" "e1", {"OK"}, "OK", 3},
        {"a reply in three pieces", "get 7", {"OK:first,", "second,", "third"}, "OK:first,second,third", 3},
        {"a reply of 2000 bytes keeps its first 1023", "dump", {long_reply.substr(0, 1500), long_reply.substr(1500)},
         long_reply.substr(0, 1023), 3},
        {"an action of 4000 characters", std::string(4000, 'a'), {"OK"}, "OK", 502},
    };
    for (const auto &c : cases) {
        FilerStub stub(c.pieces);
        EXPECT_EQ(mfiler(c.action), c.reply) << c.name;
        EXPECT_EQ(stub.action(), c.action) << c.name;
        EXPECT_EQ(stub.words(), c.words) << c.name;
    }
}

TEST_F(Filer, FailuresAreRepliesOfTheirOwn)
{
    EXPECT_EQ(mfiler(std::string(4097, 'a')), "FAIL:Action too long 4097 > max 4096");
    EXPECT_EQ(mfiler(std::string(4096, 'a')), "FAIL:Cannot encode message. Too big.");
    EXPECT_EQ(mfiler("list"), "FAIL:Can't connect to filer: Connection refused");
    {
        FilerStub silent({});
        EXPECT_EQ(mfiler("list"), "FAIL:No response from filer");
        EXPECT_EQ(silent.action(), "list");
    }
    {
        FilerStub zero({std::string("\0OK", 3)});
        EXPECT_EQ(mfiler("list"), "FAIL:No response from filer");
    }
    EXPECT_STREQ(filer_client("list", FILER_PORT, "no-such-host.invalid"), "FAIL:Can't configure destination filer");
    // A server that takes the connection and never answers, and one that takes no connection any
    // more (its queue is full): each gives up after its time-out, and promptly so, far below the
    // default time-outs.
    set_net_timeouts({300, 300});
    struct {
        const char *name;
        bool queue_full;
        const char *reply;
    } stalled[] = {
        {"silent", false, "FAIL:No response from filer"},
        {"full", true, "FAIL:Can't connect to filer: Connection timed out"},
    };
    for (const auto &c : stalled) {
        lumba_test::SilentListener server;
        if (c.queue_full) server.fill_queue();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_STREQ(filer_client("list", server.port(), "127.0.0.1"), c.reply) << c.name;
        const double took = lumba_test::seconds_since(start);
        EXPECT_GE(took, 0.3) << c.name;
        EXPECT_LT(took, 0.3 + lumba_test::scaled_ms(lumba_test::PROMPT_MS) / 1000.0) << c.name;
    }
    set_net_timeouts({0, 0});
    EXPECT_EQ(lumba_test::abort_text([&] { text(in_IMFILER, {str("a"), str("b")}); }),
              "IMFILER$ called with wrong number of arguments (2)");
}
