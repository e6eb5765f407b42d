// A program with a fault the sanitizers report: it reads memory it has freed. The GUI child's
// test runs it to see that a child's report fails the test.
#include <cstdlib>

int main(int argc, char **)
{
    int *cells = new int[4]{1, 2, 3, argc};
    int *volatile freed = cells;  // the compiler cannot tell it is the same memory
    delete[] cells;
    return freed[3] == 42 ? EXIT_FAILURE : EXIT_SUCCESS;
}
