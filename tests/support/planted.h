// What another user (nobody, 65534) leaves in a shared directory of theirs, for tests that check
// the run-time never writes through it. The directory, its links and its entries all belong to
// that user, so the kernel's own guards for sticky directories (fs.protected_symlinks,
// fs.protected_regular) would let root through: only the run-time's rules stop it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace lumba_test {

inline constexpr uid_t OTHER_USER = 65534;

// A world-writable sticky directory of the other user's at path.
inline void make_their_shared_directory(const std::string &path)
{
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(chmod(path.c_str(), 01777), 0);
    ASSERT_EQ(chown(path.c_str(), OTHER_USER, OTHER_USER), 0);
}

// A symbolic link at path to target, as the other user would make it.
inline void plant_link(const std::string &target, const std::string &path)
{
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(lchown(path.c_str(), OTHER_USER, OTHER_USER), 0);
}

// A file of the other user's at path.
inline void plant_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    ASSERT_EQ(chown(path.c_str(), OTHER_USER, OTHER_USER), 0) << path << ": " << std::strerror(errno);
}

// A FIFO of the other user's at path: a reader that opens it waits for a writer that never comes.
inline void plant_fifo(const std::string &path)
{
    ASSERT_EQ(mkfifo(path.c_str(), 0666), 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(chown(path.c_str(), OTHER_USER, OTHER_USER), 0);
}

// A directory of the other user's at path, that anyone may write.
inline void plant_directory(const std::string &path)
{
    ASSERT_EQ(mkdir(path.c_str(), 0777), 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(chmod(path.c_str(), 0777), 0);
    ASSERT_EQ(chown(path.c_str(), OTHER_USER, OTHER_USER), 0);
}

// While it lives, every reader that opens the FIFO at path is given bytes, as by the writer it
// waits for: a reader that would wait on a planted FIFO for ever reads them instead, and the test
// sees what it made of them.
class FifoFeeder {
public:
    FifoFeeder(std::string path, std::string bytes)
        : path_(std::move(path)), bytes_(std::move(bytes)), thread_([this] { feed(); })
    {
    }
    FifoFeeder(const FifoFeeder &) = delete;
    FifoFeeder &operator=(const FifoFeeder &) = delete;
    ~FifoFeeder()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void feed()
    {
        // A reader that goes before the bytes are written is no fault of the test's.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        while (!stop_) {
            // Opens only while a reader has the FIFO open: polled, as a reader gives no sign.
            const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (::write(fd, bytes_.data(), bytes_.size()) < 0) {
                // the reader went first
            }
            close(fd);
            // Time for the reader to read to the end before it is fed again.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::string path_, bytes_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace lumba_test
