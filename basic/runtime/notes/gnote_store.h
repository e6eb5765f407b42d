// Storing an intrinsic's numeric results into the program's variables, for the note field's
// intrinsics (IGNOTE_GET) and the edit window's (IGNOTE_GET_AMOUNT).
#pragma once

#include "cases.h"
#include "message.h"
#include "numerics.h"

// Stores value into the numeric variable an argument refers to; any other argument is error 202
// naming the intrinsic.
inline void gnote_store_number(Stack &entry, const dec_t &value, const char *intrinsic)
{
    if (!intr::is_number(entry)) Xerror(202, "%s: argument must be a numeric variable", intrinsic);
    *entry.s_c.C_N = value;
}

inline void gnote_store_int(Stack &entry, int value, const char *intrinsic)
{
    dec_t d;
    NumericCvINT(value, &d);
    gnote_store_number(entry, d, intrinsic);
}
