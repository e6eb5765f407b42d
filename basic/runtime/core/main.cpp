// lumba_run: the run-time program.
#include <cstdio>
#include <cstring>

#include "run_time.h"

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--issue") == 0 || std::strcmp(argv[i], "-i") == 0) {
            std::printf("OSKA Run-time system:   ISSUE %s (Revision %s)\n", LUMBA_ISSUE, LUMBA_REVISION);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-e") == 0) {
            std::printf("OSKA Run-time system\nVersion:  %s\nRevision: %s\n", LUMBA_VERSION, LUMBA_REVISION);
            return 0;
        }
    }
    std::fprintf(stderr, "lumba_run: running programs is not available yet\n");
    return 1;
}
