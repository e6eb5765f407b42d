// Clearing what a form's fields show (ICCLEAR, and the move back onto a key field): a field's Clear
// routine when it has one, else the clearing of its kind; then the focus moves on.
#pragma once

#include "forms.h"

// Clears what fields first .. count show (first below 1: from field 1): each field's Clear routine
// (its own or the window's) runs instead of the built-in clearing of its kind. The form is checked
// first if it has not been; AnyChange and Modified become 0; afterwards the focus moves on by the
// next-field rule from the field before `first` (a form not yet focused stays without focus).
void cclear_fields(ControlMatrix_t *cm, int first);

void cclear(int nargs, int last);  // ICCLEAR
