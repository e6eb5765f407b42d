// A loadable module for the module loader's tests: its entry table holds one number.
#include "test_module.h"

extern "C" [[gnu::visibility("default")]] const TestModule lumba_test_module = {42};
