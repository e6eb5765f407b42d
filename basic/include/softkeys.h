// Soft-key label sets: named sets of up to 13 labels (Escape and F1 to F12) read from the site
// file PPATH/conf/softkeys at start-up. The first set is the default.
#pragma once

#include <cstdint>

inline constexpr int NUM_SOFTKEYS = 13;

struct KeySet_t {
    char *name;
    std::int32_t reserved;
    std::int32_t defined;            // bit k set when key k has a label
    char *labels[NUM_SOFTKEYS];      // NULL when not given
    KeySet_t *next;                  // next set in file order
};

extern KeySet_t *keysets;

// Reads the file and appends its sets to keysets; the number of sets read.
int LoadKeySets(const char *path);
KeySet_t *FindKeySet(const char *name);
KeySet_t *default_keyset();
void freekeysets();
// Stops with the unexpected-end error when p is at the end of the line; 0 otherwise.
int check_eos_and_err(const char *p, int line_number);
