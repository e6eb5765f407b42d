// Opening and writing files by name where other users can write too.
//
// In a world-writable sticky directory (PPATH/temp, /tmp) another user may plant a symbolic link,
// a directory, a FIFO or a file of their own under any name the run is about to use; so may they
// in a directory below one that they may write. Such a directory is exposed. Every path is walked
// one component at a time from the root, and in an exposed directory:
//   - no symbolic link is followed, not even for a directory on the way (ELOOP);
//   - a directory must be the run's own or root's (EACCES);
//   - the file itself must be the run's own regular file with one name (else ELOOP, EISDIR,
//     EINVAL or EACCES), and a FIFO is never waited on;
//   - a new file, or the new contents of a copy, are written under a temporary name of the run's
//     own (O_EXCL) in the walked directory and renamed into place relative to it, so what lay
//     under the name is replaced, never written through.
// Elsewhere links are followed as the kernel would follow them, but by the walk itself, so a link
// that leads into an exposed directory is seen for what it is. A path that never passes a shared
// directory is opened exactly as open(2) would open it.
#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>

// True when the file path names lies in an exposed directory: there the rules above apply.
bool in_exposed_directory(const char *path);

// A file opened by name under those rules.
class NamedFile {
public:
    // When new contents are put under the name: at once (the file appears empty, as open(2)
    // with O_CREAT or O_TRUNC makes it), or only by commit() once they are complete, so a
    // failure leaves the old file as it was.
    enum Placing { AT_ONCE, ON_COMMIT };

    NamedFile() = default;
    // flags and mode as for open(2); O_CLOEXEC is always added. In an exposed directory O_CREAT
    // of a missing file makes a new file (placed as asked), and so does O_TRUNC placed on commit;
    // any other open of an existing file opens it in place. Elsewhere the file is opened as
    // open(2) does and placing changes nothing. On failure ok() is false and errno is set.
    NamedFile(const char *path, int flags, mode_t mode, Placing placing = AT_ONCE);
    NamedFile(NamedFile &&other) noexcept;
    NamedFile &operator=(NamedFile &&other) noexcept;
    NamedFile(const NamedFile &) = delete;
    NamedFile &operator=(const NamedFile &) = delete;
    // Closes the descriptor (unless released) and removes a new file not yet in place.
    ~NamedFile();

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool exposed() const { return exposed_; }
    // Puts new contents in place under the name; true when there is nothing to place. False with
    // errno set when the rename fails (the temporary file is then removed).
    bool commit();
    // The descriptor becomes the caller's. A new file not yet placed is still placed by commit(),
    // or removed when this ends.
    int release();
    // Makes a rename in the walked directory last (fsync of the directory); nothing outside
    // exposed directories.
    void sync_directory() const;
    // A name of the open file itself ("/proc/<pid>/fd/<n>") for an outside program of the same
    // user to read or write, whatever lies under the file's own name meanwhile.
    std::string descriptor_name() const;

private:
    void close_all();

    int fd_ = -1;
    int dir_ = -1;           // the walked final directory, when exposed
    std::string name_;       // the final name in dir_
    std::string temporary_;  // the new file's name in dir_ until it is placed
    bool replace_ = false;   // the new file replaces what is under the name
    bool exposed_ = false;
};

// open(2) under the rules: the descriptor (the caller's), or -1 with errno set. A new file is put
// in place at once.
int open_by_name(const char *path, int flags, mode_t mode);

// link(2), unlink(2) and mkdir(2) under the rules: in an exposed directory no link on the way is
// followed, a directory of another user is refused, and only an entry of our own is given a
// second name or removed; 0, or -1 with errno set.
int link_by_name(const char *from, const char *to);
int unlink_by_name(const char *path);
int mkdir_by_name(const char *path, mode_t mode);

// Reading by name. In an exposed directory a file is read only when it is a regular file of the
// run's own or root's with one name, reached without a link: a link is refused with ELOOP, a
// directory with EISDIR, a FIFO or device with EINVAL (it is never waited on), another user's file
// or one with further names with EACCES. It is opened without waiting and checked again on its
// descriptor, so what is read is what was checked. Elsewhere a file is opened as open(2) opens
// it; a signal that ends a wait in the open (a FIFO without a writer) is acted on at the safe
// point. O_RDONLY, O_CLOEXEC and O_NOCTTY are always given; flags may add O_NONBLOCK, which the
// descriptor then keeps. The descriptor (the caller's), or -1 with errno set.
int open_to_read(const char *path, int flags = 0);
// stat(2) of what open_to_read would open, refused the same way, without opening it; 0 or -1
// with errno set.
int stat_to_read(const char *path, struct stat *st);
