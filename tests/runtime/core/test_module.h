// The entry table of the module lumba-test-module.so.
#pragma once

struct TestModule {
    int answer;
};
