#!/usr/bin/env bash
# Installs what is needed, builds (normal, fuzzing and sanitizer builds), runs every test with CTest
# and fuzzes the object loader, the note XML reader and writer and the SBR XML import briefly.
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

# The loader's fuzz target, briefly: seeded with the programs in tests/fuzz/seeds, assembled by
# this build's zasm, and the raw inputs of tests/fuzz/regressions. A damaged object file must end
# in a loader message, never a crash or overrun.
build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DLUMBA_FUZZ=ON -DLUMBA_TESTS=OFF -DLUMBA_BENCH=OFF
corpus=$(mktemp -d)
trap 'rm -rf "$corpus" "${note_corpus:-}" "${sbr_corpus:-}"' EXIT
for seed in tests/fuzz/seeds/*.zasm; do build/tests/tools/zasm -o "$corpus/$(basename "$seed" .zasm)" "$seed"; done
cp tests/fuzz/regressions/* "$corpus/"  # inputs that once hung or crashed the loader
fuzz_log=build-fuzz/loader_fuzz.log
if ! build-fuzz/tests/fuzz/loader_fuzz -max_total_time=45 -timeout=20 -rss_limit_mb=8192 -malloc_limit_mb=4400 \
     -artifact_prefix=build-fuzz/ "$corpus" > "$fuzz_log" 2>&1; then
  grep -v -e '^DELETING application' -e 'elements left on Basic stack' -e '^NO_OP found' "$fuzz_log" | tail -60
  echo "loader fuzzing failed (input saved under build-fuzz/)"
  exit 1
fi
grep '^Done' "$fuzz_log"

# The note XML reader and writer's fuzz target, for about a minute: seeded with the test strings of
# tests/fuzz/note_xml/seeds and the inputs of its regressions folder. A malformed note must end in
# the reader's message, and what the writer writes must read back.
note_corpus=$(mktemp -d)
cp tests/fuzz/note_xml/seeds/* tests/fuzz/note_xml/regressions/* "$note_corpus/"
note_log=build-fuzz/note_xml_fuzz.log
if ! build-fuzz/tests/fuzz/note_xml_fuzz -max_total_time=60 -timeout=20 -rss_limit_mb=4096 \
     -artifact_prefix=build-fuzz/ "$note_corpus" > "$note_log" 2>&1; then
  tail -60 "$note_log"
  echo "note XML fuzzing failed (input saved under build-fuzz/)"
  exit 1
fi
grep '^Done' "$note_log"

# The SBR XML import's fuzz target, for about a minute: seeded with the import tests' documents and
# tests/fuzz/sbr_seeds, and the inputs of tests/fuzz/sbr_regressions. Every document must end in
# the six lists or in one of the import's own messages, never a crash, overrun, leak or hang.
sbr_corpus=$(mktemp -d)
cp tests/runtime/documents/sbr/*.xml tests/fuzz/sbr_seeds/* tests/fuzz/sbr_regressions/* "$sbr_corpus/"
sbr_log=build-fuzz/sbr_xml_fuzz.log
if ! build-fuzz/tests/fuzz/sbr_xml_fuzz -max_total_time=60 -timeout=20 -rss_limit_mb=4096 \
     -artifact_prefix=build-fuzz/ "$sbr_corpus" > "$sbr_log" 2>&1; then
  tail -60 "$sbr_log"
  echo "SBR XML fuzzing failed (input saved under build-fuzz/)"
  exit 1
fi
grep '^Done' "$sbr_log"

# The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
build build-asan -DCMAKE_BUILD_TYPE=Debug -DLUMBA_SANITIZE=ON -DLUMBA_BENCH=OFF
(cd build-asan &&
  ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest -j "$jobs" -L unit --output-on-failure)

# The external-program tests under ThreadSanitizer: the worker threads of IEXTERNAL_PROGRAM_START
# are the run-time's only threads. Only that test program and the libraries it links are built.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMBA_TSAN=ON -DLUMBA_BENCH=OFF
cmake --build build-tsan -j "$jobs" --target external_program_test
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest -j "$jobs" -R '^ExternalPrograms\.' --output-on-failure)
