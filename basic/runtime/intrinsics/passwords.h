// The salt maker behind the password intrinsics.
#pragma once

#include <crypt.h>
#include <cstddef>
#include <span>
#include <string>

#include "intrinsic_dispatch.h"

// The most rounds a setting made here asks for.
inline constexpr long MAX_ROUNDS = 9999;
// A stored hash asking for more rounds is refused by IPASSWORD_CHECK (it answers 0): checking it
// would hold the run, and a request to end it, for minutes. Ten times the most made here.
inline constexpr long MAX_STORED_ROUNDS = 10 * MAX_ROUNDS;
// The longest password the crypt library hashes; a longer one is refused by both intrinsics (the
// check answers 0, the hash is the empty text).
inline constexpr std::size_t MAX_PASSWORD_SIZE = CRYPT_MAX_PASSPHRASE_SIZE - 1;

// The setting handed to crypt for method meth: "MD5" gives "$1$" and 8 salt characters, "SHA256"
// and "SHA512" give "$5$" or "$6$", a rounds text and 8 to 16 salt characters, "DES" gives 8 salt
// characters alone. The rounds text is "rounds=N$" with the preferred count clamped to 1000..9999,
// a random count from 1000 to 9998 without one, and none for a preferred count of 0. Salt
// characters are "./0-9A-Za-z", drawn from the system's random source. Any other method ends the
// run with "Invalid ENCRYPT_METHOD value: '<meth>'.".
std::string crypt_make_salt(const char *meth, const long *preferred);

// The dispatcher rows of IPASSWORD_ENCRYPT$ and IPASSWORD_CHECK, registered by the library's
// registration object.
std::span<const IntrinsicRow> password_intrinsics();
