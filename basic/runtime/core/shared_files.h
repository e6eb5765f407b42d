// Opening files in directories that other users can write to (PPATH/temp, /tmp): there a planted
// symbolic link, another user's file, a second hard link or a FIFO must never be taken for the
// run's own file.
#pragma once

#include <sys/types.h>

// True when the directory of path is world-writable and sticky.
bool in_shared_directory(const char *path);

// open(2) under the rules of a shared directory, wherever path is: a final symbolic link is not
// followed (ELOOP); anything but a regular file is refused (EISDIR, EINVAL) without waiting on it;
// a file of another user or with more than one link is refused (EACCES); O_TRUNC empties the file
// only once it is known to be the run's own. The descriptor, or -1 with errno set.
int open_own_file(const char *path, int flags, mode_t mode);

// A data file: open_own_file in a shared directory, plain open(2) elsewhere (links followed).
int open_data_file(const char *path, int flags, mode_t mode);
