#!/usr/bin/env bash
# Installs what is needed, then:
#  - the tests' build: clang with AddressSanitizer and UndefinedBehaviorSanitizer, the fuzz targets
#    linked with libFuzzer in the same build; every test runs there (CTest label "unit");
#  - the object loader, the note XML reader and writer, the SBR XML import and the OpenDocument
#    part reader and writer fuzzed for about a minute each, side by side;
#  - the optimised build of lumba_run, the sample programs and the benchmarks, whose smoke runs
#    check what each side of a benchmark computed (label "bench");
#  - the external-program tests under ThreadSanitizer.
# tests/support/README.md has the figures: how long this takes on two and on eight cores.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
build() {  # build <dir> <cmake options...>
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
}
# Many tests wait (on X servers, database servers, children) more than they compute: twice as many
# at once as there are cores, but never more than the memory holds (a sanitizer test and what it
# starts take up to about a gigabyte).
memory_jobs=$(awk '/^MemAvailable:/ { print int($2 / 1048576) }' /proc/meminfo)
test_jobs=$((jobs * 2))
if ((memory_jobs < test_jobs)); then test_jobs=$((memory_jobs > 0 ? memory_jobs : 1)); fi

# Line tables are all the debug information the sanitizers' reports and the debugger's traces use:
# full debug information would take a quarter more of the build's time.
build build-san -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only \
  -DLUMBA_SANITIZE=ON -DLUMBA_FUZZ=ON -DLUMBA_BENCH=OFF
(cd build-san &&
  ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest -j "$test_jobs" -L unit --output-on-failure)

# The fuzz targets, side by side for about a minute each, each seeded with its seeds and with the
# inputs of its regressions folder (inputs that once hung or crashed it). A damaged object file
# must end in a loader message; a malformed note, SBR document or OpenDocument part in the
# reader's message; what the writers write must read back. Never a crash, overrun, leak or hang.
fuzz_dir=$(mktemp -d)
trap 'rm -rf "$fuzz_dir"' EXIT
mkdir "$fuzz_dir"/{loader,note_xml,sbr_xml,odf_xml}
for seed in tests/fuzz/seeds/*.zasm; do
  build-san/tests/tools/zasm -o "$fuzz_dir/loader/$(basename "$seed" .zasm)" "$seed"
done
cp tests/fuzz/regressions/* "$fuzz_dir/loader/"
cp tests/fuzz/note_xml/seeds/* tests/fuzz/note_xml/regressions/* "$fuzz_dir/note_xml/"
cp tests/runtime/documents/sbr/*.xml tests/fuzz/sbr_seeds/* tests/fuzz/sbr_regressions/* "$fuzz_dir/sbr_xml/"
cp tests/fuzz/odf_xml/seeds/* "$fuzz_dir/odf_xml/"
cp tests/fuzz/odf_xml/regressions/* "$fuzz_dir/odf_xml/" 2>/dev/null || true
fuzz() {  # fuzz <target> <seconds> [libFuzzer options...]
  local target=$1 seconds=$2; shift 2
  build-san/tests/fuzz/"$target" -max_total_time="$seconds" -timeout=20 -artifact_prefix=build-san/"$target"- \
    "$@" "$fuzz_dir/${target%_fuzz}" > build-san/"$target".log 2>&1
}
declare -A fuzzing
fuzz loader_fuzz 45 -rss_limit_mb=8192 -malloc_limit_mb=4400 & fuzzing[loader_fuzz]=$!
fuzz note_xml_fuzz 60 -rss_limit_mb=4096 & fuzzing[note_xml_fuzz]=$!
fuzz sbr_xml_fuzz 60 -rss_limit_mb=4096 & fuzzing[sbr_xml_fuzz]=$!
fuzz odf_xml_fuzz 60 -rss_limit_mb=4096 & fuzzing[odf_xml_fuzz]=$!
fuzz_failed=0
for target in loader_fuzz note_xml_fuzz sbr_xml_fuzz odf_xml_fuzz; do
  if wait "${fuzzing[$target]}"; then
    grep '^Done' build-san/"$target".log | sed "s/^/$target: /"
  else
    grep -v -e '^DELETING application' -e 'elements left on Basic stack' -e '^NO_OP found' build-san/"$target".log |
      tail -60
    echo "$target failed (input saved under build-san/$target-*)"
    fuzz_failed=1
  fi
done
((fuzz_failed == 0))

# The optimised build: only what needs it, without debug information, which nothing here reads
# (in a tree of its own, apart from the main job's).
cmake -S . -B build-opt -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG"
cmake --build build-opt -j "$jobs" --target lumba_run lumba-examples lumba-benches
(cd build-opt && ctest -j "$jobs" -L bench --output-on-failure)

# The external-program tests under ThreadSanitizer: the worker threads of IEXTERNAL_PROGRAM_START
# are the run-time's only threads. Only that test program and the libraries it links are built.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DLUMBA_TSAN=ON -DLUMBA_BENCH=OFF
cmake --build build-tsan -j "$jobs" --target external_program_test
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest -j "$jobs" -R '^ExternalPrograms\.' --output-on-failure)
