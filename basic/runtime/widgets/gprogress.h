// The progress window of a long task: at most one, held in global_data while it is open.
#pragma once

struct Stack;

// ---- Intrinsics ------------------------------------------------------------------------------------
void igprogress_create(int nargs, int last);                        // IGPROGRESS_CREATE
void igprogress_update(int nargs, int last);                        // IGPROGRESS_UPDATE
void igprogress_is_cancelled(int nargs, int last, Stack *result);  // IGPROGRESS_IS_CANCELLED
void igprogress_destroy(int nargs, int last);                       // IGPROGRESS_DESTROY
