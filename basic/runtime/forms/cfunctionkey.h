// The soft-key slots of a CM: the soft-key buttons registered for action codes, and their
// sensitivity from the soft keys a field has something attached for. They live and die with the CM.
#pragma once

#include <cstdint>

#include "forms.h"

// Registers a soft-key button for an action code (a button already there moves to the end).
void cfunctionkey_add(ControlMatrix_t *cm, GtkWidget *button, std::uint32_t action_code);
void cfunctionkey_delete(ControlMatrix_t *cm);
// Sensitivity of each button from the slot of its code (2 slot 0; 51..53 slots 1..3; 34 slot 4;
// 55..62 slots 5..12); other codes are left alone.
void cfunctionkey_set(ControlMatrix_t *cm, const int flags[CM_SOFT_KEYS]);
