// Documents kept in bytea columns, and the client of the file server on this machine.
//
// IDOC_FETCH takes a file into the bytea column of a table row, through a structure variable of
// that table and the row store of pg_rows.h; IDOC_STORE writes the bytea column of a result's
// next row out to a file. IMFILER$ sends an action, coded with the common library's string coder
// (strcoder.h), to the file server over TCP and answers with the server's reply.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <libpq-fe.h>

// ---- Documents -----------------------------------------------------------------------------------

// The work of IDOC_FETCH and IDOC_STORE (code in_IDOC_FETCH or in_IDOC_STORE) on the call's
// arguments, which are: a handle (a connection for the fetch, a result for the store), the column
// name, the file name and the structure. The status the program gets:
//   IDOC_FETCH  0 when the row was stored; 1 when the store changed no row (a failed statement
//               keeps the server's error for IPQERRMSG$ and IPQERRCODE$);
//   IDOC_STORE  0 when the file was written; 6 when the result has no row left (no file touched).
// The record's bytea field holds no text afterwards. An unknown structure, an unknown column or a
// column that is not bytea ends the run; so do file errors (309) and failed conversions (210).
int idoc_perform(int nargs, int last, int code);

// The bytes of the file at path as the bytea's text (what a fetch of the column gives), in a new
// block from the allocator. Its length is in *length.
char *file_get_bytea(PGconn *conn, const char *path, std::size_t *length);

// Writes length bytes to the file at path, created or replaced; returns 0. A regular file of our
// own (or a new one) is written under a temporary name beside it, synced and renamed into place,
// so a failed write leaves the old file as it was. A name that is a symbolic link is written
// where the link leads; a device, a file with further names or another user's file is written
// in place. Below a shared directory (shared_files.h) no link on the way is followed and nothing but a regular
// file of our own with one name is replaced; the same holds for the file IDOC_FETCH reads.
int file_store_bytea(const char *path, const unsigned char *bytes, std::size_t length);

// ---- The file server -----------------------------------------------------------------------------

inline constexpr int FILER_PORT = 55199;
inline constexpr const char *FILER_HOST = "localhost";
inline constexpr std::size_t FILER_ACTION_MAX = 4096;  // characters of an action, and bytes of its message
inline constexpr std::size_t FILER_REPLY_SIZE = 1024;  // the reply buffer: at most 1023 characters kept

// Sends action to the file server at host (its first IPv4 address), port, and returns its reply:
// everything it sends until it closes the connection, up to FILER_REPLY_SIZE - 1 bytes (the rest
// is read and dropped), as a text cut at its first NUL. Every failure is a reply beginning
// "FAIL:". The text lives in one static buffer until the next call. Blocks until the server closes.
const char *filer_client(std::string_view action, int port, const char *host);
