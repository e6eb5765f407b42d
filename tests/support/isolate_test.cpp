// The isolate runner, from inside: this test program runs through it (see the CMake file).
#include <gtest/gtest.h>

#include <fstream>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

namespace {

std::string file(const char *path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(Isolate, OnlyAnUpLoopbackInterface)
{
    struct if_nameindex *names = if_nameindex();
    ASSERT_NE(names, nullptr);
    std::string all;
    for (auto *n = names; n->if_index; ++n) all += std::string(n->if_name) + " ";
    if_freenameindex(names);
    EXPECT_EQ(all, "lo ");
    // A fixed port is free to take, and loopback carries the connection.
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(443);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(server, 1), 0);
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(connect(client, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    close(client);
    close(server);
}

TEST(Isolate, HostsFileIsPrivateAndWritable)
{
    std::ofstream("/etc/hosts", std::ios::app) << "127.0.0.1 isolated.lumba.example\n";
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = AF_INET;
    ASSERT_EQ(getaddrinfo("isolated.lumba.example", nullptr, &hints, &found), 0);
    EXPECT_EQ(reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    freeaddrinfo(found);
}

TEST(Isolate, OwnProcessNamespace)
{
    // The namespace's first process is the runner, not the machine's init.
    EXPECT_EQ(file("/proc/1/comm"), "isolate\n");
    EXPECT_LT(getpid(), 100);
}
