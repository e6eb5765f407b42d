// The forms engine's part of IEXTERNAL_PROGRAM_START, handed to the intrinsics library
// (external_program.h) by the forms engine's registration object.
#pragma once

void register_external_program_forms();
