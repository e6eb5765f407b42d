#!/usr/bin/env bash
# Installs what is needed, builds (normal and sanitizer builds) and runs every test with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
build() {  # build <dir> <cmake options...>
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
}

build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest -j "$jobs" --output-on-failure)

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
build build-asan -DCMAKE_BUILD_TYPE=Debug -DLUMBA_SANITIZE=ON -DLUMBA_BENCH=OFF
(cd build-asan &&
  ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest -j "$jobs" -L unit --output-on-failure)
