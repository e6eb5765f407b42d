// AES-256-GCM text encryption for storage (IAES_ENCRYPT$, IAES_DECRYPT$), on OpenSSL's EVP
// cipher interface with the key and initialisation vector built into the run-time.
//
// The AES text form is base64(16-byte GCM tag) "?" base64(ciphertext), standard base64 with "="
// padding and no line break; a text of n bytes gives 24 + 1 + 4 * ceil(n / 3) characters. Key and
// IV are fixed, so one text always gives the same form: stored forms may be compared for equality.
// Decryption also tries the earlier key and IV pairs the run-time keeps, writing an
// "SSL ERR:" block to standard error for each pair that does not authenticate.
#pragma once

#include <cstddef>

// Encrypts length bytes of text; *out becomes a new salloc text (NUL-terminated) holding the AES
// text form, whose length is returned.
int aes_gcm_encrypt(const char *text, std::size_t length, char **out);

// Decrypts an AES text form of length bytes with the current pair, then the fallback pairs; *out
// becomes a new salloc text holding the plain text, NUL-terminated, whose length is returned.
// Stops the run with "aes_gcm_decrypt: decryption failed!; ret=-1" when no pair authenticates it,
// and with its own message for a form without "?" or with undecodable base64.
int aes_gcm_decrypt(const char *form, std::size_t length, char **out);

// One attempt with key (32 bytes) and iv (iv_length bytes, 1 to 128): the plain-text length with
// *out a new salloc text, or -1 when the tag does not authenticate (an "SSL ERR:" block then goes
// to standard error and *out is left alone).
int _aes_gcm_decrypt(const char *form, std::size_t length, char **out, const unsigned char *key,
                     const unsigned char *iv, int iv_length);

// Base64 of length bytes of data into out (size bytes): direction 0 encodes, 1 decodes. Returns
// the number of bytes produced, NUL-terminating out when that number is below size; decoding
// keeps at most size bytes of a longer result. -1 for a text that is no standard base64 (only
// the alphabet, with one or two "=" as the last characters of a length divisible by 4) or an
// encoding that does not fit.
int _b64(const unsigned char *data, std::size_t length, unsigned char *out, std::size_t size, int direction);

// Stops the run with every line of OpenSSL's error queue, in queue order, one per line.
[[noreturn]] void _handleErrors();
