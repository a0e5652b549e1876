#!/bin/bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and fuzzes each for FUZZ_SECONDS seconds (default 60).
#
#   BUILD_DIR     build directory (default <root>/build-fuzz)
#   FUZZ_SECONDS  time per target
#   FUZZ_JOBS     parallel build jobs (default 2)
#
# Each target starts from a working corpus inside the build directory, which
# is seeded from fuzz/corpus/<target>/ and kept between runs; the committed
# seeds and fuzz/regressions/ are only read. Any finding (crash, sanitizer
# report, leak, timeout, memory limit, internal failure) fails the run and
# its input's path is printed; copy it into fuzz/regressions/ once fixed.
# The last line is "N passed, M failed", counting targets.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
targets=(fuzz_compile fuzz_request fuzz_machine fuzz_lsp)

# --- packages ---------------------------------------------------------------
packages=(cmake make clang libclang-rt-14-dev libicu-dev nlohmann-json3-dev libcli11-dev)
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
if ! ensure_packages "${packages[@]}"; then
  echo "fuzz.sh: cannot install ${packages[*]}" >&2
  echo "0 passed, ${#targets[@]} failed"
  exit 1
fi

# --- build ------------------------------------------------------------------
mkdir -p "$build"
configure_log=$build/fuzz-configure.log
if ! cmake -S "$root" -B "$build" -DQUERN_FUZZ=ON -DQUERN_TESTS=OFF \
  -DQUERN_WERROR=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >"$configure_log" 2>&1 ||
  ! cmake --build "$build" -j "$jobs" --target "${targets[@]}"; then
  tail -n 30 "$configure_log"
  echo "fuzz.sh: build failed" >&2
  echo "0 passed, ${#targets[@]} failed"
  exit 1
fi

# --- fuzzing ----------------------------------------------------------------
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
passed=0
failed=0
for target in "${targets[@]}"; do
  kind=${target#fuzz_}
  work=$build/fuzz-work/$target
  corpus=$work/corpus
  artifacts=$work/findings
  log=$work/last-run.log
  mkdir -p "$corpus" "$artifacts"
  rm -f "$artifacts"/*
  cp -f "$root/fuzz/corpus/$kind"/* "$corpus"/
  max_len=65535
  [[ $target == fuzz_request ]] && max_len=65600
  # fuzz_machine's bytes choose a program, not its text: no dictionary, and
  # a few hundred bytes already make a long program.
  dict=(-dict="$root/fuzz/quern.dict")
  [[ $target == fuzz_machine ]] && max_len=1024 dict=()
  [[ $target == fuzz_lsp ]] && dict=(-dict="$root/fuzz/lsp.dict")

  start=$SECONDS
  "$build/fuzz/$target" "$corpus" "$root/fuzz/regressions" \
    "${dict[@]}" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
    >"$log" 2>&1
  status=$?
  elapsed=$((SECONDS - start))
  runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  [[ -n $runs ]] || runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
  findings=("$artifacts"/*)
  [[ -e ${findings[0]} ]] || findings=()

  if ((status == 0 && ${#findings[@]} == 0)); then
    echo "$target: ${runs:-?} executions in $elapsed s, no findings"
    passed=$((passed + 1))
  else
    grep -E -m 20 'ERROR:|fuzz_(compile|request|machine|lsp):|SUMMARY|runtime error|internal failure' "$log"
    echo "$target: FAILED (exit status $status) after ${runs:-?} executions in $elapsed s;" \
      "full log: $log"
    for f in "${findings[@]}"; do echo "$target: crashing input: $f"; done
    ((${#findings[@]})) || echo "$target: no input was saved; see the log"
    failed=$((failed + 1))
  fi
done

echo "$passed passed, $failed failed"
((failed == 0))
