// An OpenDocument package (a zip archive) while it is filled: the parts the filling reads and
// changes are held in memory, every other entry stays in the source archive and is copied from it
// compressed when the new archive is written beside the target and renamed over it.
// No outside program runs and no path is ever interpreted: names reach libzip as they are.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct zip;

// What a package may inflate to. Sizes are the archive's own declarations, checked before anything
// is inflated or allocated; a part that is read must also hold no more than it declares.
constexpr std::uint64_t ODF_ENTRY_LIMIT = 512ull << 20;    // any one entry
constexpr std::uint64_t ODF_PACKAGE_LIMIT = 1ull << 30;    // all entries together
constexpr std::uint64_t ODF_PART_LIMIT = 64ull << 20;      // a part read into memory and parsed

struct OdfEntry {
    std::string name;  // as stored; a directory's ends in '/'
    std::string data;
    bool directory = false;
    std::string file;  // when set, the entry is written from this file instead of data
    // An entry the filling does not read: copied compressed from the source archive's entry of
    // this index (unless file is set).
    bool in_source = false;
    std::uint64_t index = 0;
};

struct OdfArchiveDiscard {
    void operator()(zip *za) const;
};

struct OdfPackage {
    std::string source;  // the path it was read from, for messages
    std::vector<OdfEntry> entries;
    std::uint32_t note_tables = 0;  // amount tables made for notes, so each gets its own name
    std::unique_ptr<zip, OdfArchiveDiscard> archive;  // the source, open until the package is written
};

// Reads the package at source: the media type, the manifest and the parts the filling changes
// into memory, the other entries by reference. An entry that is a link or any other kind of
// object than a plain file or directory, whose name is absolute, climbs out with ".." or holds a
// backslash, a second entry of a name, and sizes above the limits are refused: the run ends, as
// it does when the archive cannot be read. A package without "mimetype" gets one from the
// manifest's media type of its root.
OdfPackage insert_oo_open_doc(const char *source);

// The entry called name, or nullptr.
OdfEntry *odf_entry(OdfPackage &package, const char *name);

// Writes the package as a new archive ("mimetype" first and stored, as the format asks) under a
// temporary name in the target's directory, with the old target's mode (and owner where
// permitted) from the start, and renames it over target, so a failure leaves an old target whole
// and none of its entries survive a success. Where other users can write (shared_files.h) no
// link on the way is followed and nothing of theirs is written.
void insert_oo_close_doc(const OdfPackage &package, const char *target);
