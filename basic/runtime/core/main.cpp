// lumba_run: the run-time program.
#include "startup.h"

int main(int argc, char **argv)
{
    lumba_main(argc, argv);
}
