#!/usr/bin/env bash
# The test command. Installs what is missing, builds two trees and runs every test
# in each:
#   build/       RelWithDebInfo
#   build-asan/  Debug with AddressSanitizer and UndefinedBehaviorSanitizer, built with
#                clang, which also builds the fuzz targets and runs each for a short while
# Unit tests run directly; end-to-end tests start their own headless desktops
# (scripts/headless-desktop.sh), so nothing needs to be running beforehand. The
# sanitizer tree is built while build/'s tests run.
#
# Environment: VANTO_JOBS (default 2) for the build and ctest; VANTO_SKIP_BOOTSTRAP=1
# to skip the package check.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
readonly jobs="${VANTO_JOBS:-2}"
logs=$(mktemp -d "${TMPDIR:-/tmp}/vanto-test.XXXXXX") || exit 1
readonly logs
trap 'rm -rf -- "$logs"' EXIT

passed=0
failed=0
problems=()
test_environment=()
started=$SECONDS

say() { printf '\n== %s\n' "$*"; }

finish() {
  local minutes=$(((SECONDS - started) / 60)) seconds=$(((SECONDS - started) % 60))
  echo
  if ((${#problems[@]})); then
    printf 'test.sh: FAILED after %dm%02ds:\n' "$minutes" "$seconds"
    printf '  - %s\n' "${problems[@]}"
  else
    printf 'test.sh: all tests passed in %dm%02ds\n' "$minutes" "$seconds"
  fi
  echo "summary: $passed passed, $failed failed"
  ((${#problems[@]} == 0))
  exit $?
}

# run_ctest TREE WHAT [--on-desktop] ARGS...: runs ctest in TREE and adds its counts
# to the totals.
run_ctest() {
  local tree=$1 what=$2 launcher=()
  shift 2
  if [[ ${1:-} == --on-desktop ]]; then
    launcher=(bash scripts/headless-desktop.sh run --)
    shift
  fi
  local log=$logs/ctest-$tree-${what// /-}.log
  say "$what in $tree/"
  env "${test_environment[@]}" "${launcher[@]}" \
    ctest --test-dir "$tree" --output-on-failure --no-tests=error --timeout 180 -j "$jobs" "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local counts
  counts=$(grep -Eo '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ $counts =~ ^([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+)$ ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
  ((status == 0)) || problems+=("$what in $tree/ (ctest exit status $status)")
}

# build_tree TREE CMAKE_ARGS...: configures and builds; false if either fails.
build_tree() {
  local tree=$1
  shift
  say "configuring $tree/"
  if ! cmake -S . -B "$tree" -G Ninja "$@"; then
    problems+=("configuring $tree/")
    return 1
  fi
  say "building $tree/"
  if ! cmake --build "$tree" -j "$jobs"; then
    problems+=("building $tree/")
    return 1
  fi
}

# test_tree TREE [CTEST_ARGS...]: the unit tests, then everything else with the
# arguments given.
test_tree() {
  local tree=$1
  shift
  run_ctest "$tree" "unit tests" -L unit
  # Everything else: the end-to-end tests and whatever carries no unit label. The
  # vanto e2e suites start desktops of their own; tests of the Linux backend that
  # need a display use the one around this ctest run.
  run_ctest "$tree" "end-to-end and other tests" --on-desktop -LE unit "$@"
}

if [[ ${VANTO_SKIP_BOOTSTRAP:-0} != 1 ]]; then
  say "checking packages"
  if ! bash scripts/bootstrap.sh; then
    problems+=("scripts/bootstrap.sh")
    finish
  fi
fi

# clang, for libFuzzer; naming the compiler also turns a tree once made with g++ over.
readonly asan_arguments=(-DCMAKE_BUILD_TYPE=Debug -DVANTO_SANITIZE=ON -DCMAKE_CXX_COMPILER=clang++
  -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only -DVANTO_FUZZ_SECONDS=12 -DVANTO_BENCH=OFF)
asan_ready=false

# Line tables are all that backtraces and the sanitizers' reports need; full debug
# information would add a third to every compile and link.
if build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"; then
  # build/'s tests mostly wait on browsers, desktops and recordings, so the sanitizer
  # tree compiles meanwhile, at a low priority that leaves them the processor they need;
  # its output is shown once they are done.
  say "configuring and building build-asan/ in the background"
  nice -n 15 bash -c 'cmake -S . -B build-asan -G Ninja "$@" && cmake --build build-asan -j "$0"' \
    "$jobs" "${asan_arguments[@]}" >"$logs/build-asan.log" 2>&1 &
  asan_build=$!
  test_tree build
  say "build-asan/, built in the background"
  wait "$asan_build"
  asan_status=$?
  cat "$logs/build-asan.log"
  if ((asan_status == 0)); then
    asan_ready=true
  else
    problems+=("configuring or building build-asan/")
  fi
elif build_tree build-asan "${asan_arguments[@]}"; then
  asan_ready=true
fi

if $asan_ready; then
  test_environment=(ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-suppressions.txt:print_suppressions=0)
  # The connect time-out suite is three minutes of waiting for the real time-out; the
  # code it runs is the same as in build/, where it has run already.
  test_tree build-asan -E '^e2e\.account\.AccountTimeOut$'
  test_environment=()
fi

finish
