// The forms engine's part of IEXTERNAL_PROGRAM_START, handed to the intrinsics library
// (external_program.h) by the forms engine's registration object.
#pragma once

#include "forms.h"

void register_external_program_forms();

// How the follow-on routine is run at a command's end: cinvoke_basic_routine (cinvoke.h), unless
// a test put a recorder in its place. Returns what it replaces.
using ExternalRoutineCall = int (*)(ControlMatrix_t *cm, ControlMatrix_t **out_cm, int code, int *index, int *closed,
                                    GlobalData_t *gd, const char *variable, const char *text, int value,
                                    int must_exist, char **result_text, int *closing, int close_processing);
ExternalRoutineCall register_external_routine_call(ExternalRoutineCall call);
