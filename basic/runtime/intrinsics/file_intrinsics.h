// What the file and system intrinsics share: how they take a name from an argument, and the copy
// and the removal behind ICOPY and IREMOVE (which the benchmarks also call directly).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "intrinsic_dispatch.h"

struct Stack;

// Argument counts: exactly wanted, or at least one where the intrinsic reads a fixed argument
// without counting; else the run ends with "Invalid number of parameters".
void need_arguments(int nargs, int wanted);
void need_an_argument(int nargs);

// The text of a string argument up to its first zero byte: all of it that a system call sees.
std::string plain_text(const Stack &entry);
// The same without its trailing white space, as the file intrinsics take names.
std::string name_text(const Stack &entry);

// Copies the file source to destination. Two names of one file (same device and inode, whatever
// the path, link or hard link) and a directory as source are refused before anything is written.
// A new destination, or an existing regular file of ours with no other hard link that may be
// written and replaced, is written under a temporary name beside it and renamed into place, so a
// failed copy leaves the destination as it was; any other existing destination (a device, a file
// with more names, someone else's file) is overwritten in place. A source that a file channel of
// the program holds is read through that channel's descriptor, so the channel's region locks stay.
// Every failure ends the run with the step and the system's error text.
void icopy_file(const std::string &source, const std::string &destination);

// Removes the file, or the directory with everything under it, called name. Symbolic links are
// removed as links and never followed, so nothing outside the tree is touched. The root directory
// and names ending in "." or ".." are refused; a missing name or any failure ends the run.
void iremove_path(const std::string &name);

// The dispatcher rows of the file and system intrinsics, registered by the library's registration
// object: BASENAME$, DELETE_FILE, IFEXISTS, IFSIZE, IMKDIR, IIS_WRITEABLE, IIS_LINK; ICOPY,
// IREMOVE; GETENV$, GETSYS$, IREMOVE_NON_PRINTABLE$, IPROCESS_CHECK, IPROCESS_KILL.
std::span<const IntrinsicRow> file_intrinsics();
std::span<const IntrinsicRow> copy_and_remove_intrinsics();
std::span<const IntrinsicRow> system_intrinsics();
