// A program that fails one of GLib's checks, as a run-time fault would: GLib logs the critical on
// standard error and the program goes on. The GUI child's test runs it to see that the critical
// fails the test.
#include <glib.h>

int main()
{
    return static_cast<int>(g_hash_table_size(nullptr));
}
