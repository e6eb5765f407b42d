// Filling a form's fields from the program's data (ICSET_CONTENT): field by field, the field's
// Set_Content routine, else its Pre_Focus routine, then the field's display in its shown form;
// the AnyChange field last.
#pragma once

#include "forms.h"

// Fills field index and returns the last index to use from then on: the field count re-read when
// the range runs to the end (a routine may add fields), else last. The routine may neither close
// the window nor move the focus.
int cset_content_field(ControlMatrix_t *cm, int index, int last, int to_end);

void cset_content(int nargs, int last);  // ICSET_CONTENT (matrix [, first field [, last field]])
