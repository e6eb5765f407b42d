// Rows of intrinsics that need a window system and whose owners are not built yet: the notes'
// edit window (IGNOTE_*). They hold no handler, only the flag, so that background mode refuses
// them with error 208 as it will once their owner registers them; in windows mode they stop with
// "<NAME> not available". The other intrinsics of those owners need no row until then: a served
// code without one stops the same way in both modes. An owner, once built, moves its codes from here into its own rows (a code with
// two rows ends the start-up).
#include "cases.h"

namespace {

constexpr IntrinsicRow rows[] = {
    // notes
    {in_IGNOTE_DELETE_BLOCK_TAG, {}, ANY_COUNT, WINDOWS_ONLY},
    {in_IGNOTE_GET_BLOCK_TAG, {}, ANY_COUNT, WINDOWS_ONLY},
    {in_IGNOTE_PRINT_BLOCK_TAG, {}, ANY_COUNT, WINDOWS_ONLY},
};

} // namespace

std::span<const IntrinsicRow> reserved_intrinsics() { return rows; }
