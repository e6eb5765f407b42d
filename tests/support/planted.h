// What another user (nobody, 65534) leaves in a shared directory of theirs, for tests that check
// the run-time never writes through it. The directory, its links and its entries all belong to
// that user, so the kernel's own guards for sticky directories (fs.protected_symlinks,
// fs.protected_regular) would let root through: only the run-time's rules stop it.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
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

// A directory of the other user's at path, that anyone may write.
inline void plant_directory(const std::string &path)
{
    ASSERT_EQ(mkdir(path.c_str(), 0777), 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(chmod(path.c_str(), 0777), 0);
    ASSERT_EQ(chown(path.c_str(), OTHER_USER, OTHER_USER), 0);
}

} // namespace lumba_test
