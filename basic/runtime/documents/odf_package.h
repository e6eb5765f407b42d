// An OpenDocument package (a zip archive) held in memory while it is filled: read whole with
// libzip, its parts changed in place, and written as a new archive that replaces the target.
// No outside program runs and no path is ever interpreted: names reach libzip as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OdfEntry {
    std::string name;  // as stored; a directory's ends in '/'
    std::string data;
    bool directory = false;
    std::string file;  // when set, the entry is written from this file instead of data
};

struct OdfPackage {
    std::string source;  // the path it was read from, for messages
    std::vector<OdfEntry> entries;
    std::uint32_t note_tables = 0;  // amount tables made for notes, so each gets its own name
};

// Reads every entry of the package at source. An entry that is a link or any other kind of
// object than a plain file or directory, or whose name is absolute or climbs out with "..", is
// refused: the run ends, as it does when the archive cannot be read.
OdfPackage insert_oo_open_doc(const char *source);

// The entry called name, or nullptr.
OdfEntry *odf_entry(OdfPackage &package, const char *name);

// Writes the package as a new archive ("mimetype" first and stored, as the format asks) under a
// temporary name in the target's directory and renames it over target, so a failure leaves an
// old target whole and none of its entries survive a success. Where other users can write
// (shared_files.h) no link on the way is followed and nothing of theirs is written.
void insert_oo_close_doc(const OdfPackage &package, const char *target);
