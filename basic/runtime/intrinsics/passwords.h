// The salt maker behind the password intrinsics.
#pragma once

#include <string>

// The setting handed to crypt for method meth: "MD5" gives "$1$" and 8 salt characters, "SHA256"
// and "SHA512" give "$5$" or "$6$", a rounds text and 8 to 16 salt characters, "DES" gives 8 salt
// characters alone. The rounds text is "rounds=N$" with the preferred count clamped to 1000..9999,
// a random count from 1000 to 9998 without one, and none for a preferred count of 0. Salt
// characters are "./0-9A-Za-z", drawn from the system's random source. Any other method ends the
// run with "Invalid ENCRYPT_METHOD value: '<meth>'.".
std::string crypt_make_salt(const char *meth, const long *preferred);

// The dispatcher rows of IPASSWORD_ENCRYPT$ and IPASSWORD_CHECK, installed by the library's
// registration object.
void register_password_intrinsics();
