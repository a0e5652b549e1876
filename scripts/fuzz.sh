#!/bin/bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and fuzzes each for FUZZ_SECONDS seconds (default 60), FUZZ_JOBS
# targets at a time.
#
#   BUILD_DIR     build directory (default <root>/build-fuzz); one configured
#                 already keeps its settings, so the test command's sanitizer
#                 build, configured with QUERN_FUZZ too, serves both
#   FUZZ_SECONDS  time per target
#   FUZZ_JOBS     parallel build jobs, and targets fuzzed at once (default 2)
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
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
if ! ensure_packages "${packages_fuzz[@]}"; then
  echo "fuzz.sh: cannot install ${packages_fuzz[*]}" >&2
  echo "0 passed, ${#targets[@]} failed"
  exit 1
fi

# --- build ------------------------------------------------------------------
mkdir -p "$build"
configure_log=$build/fuzz-configure.log
if ! ensure_configured "$build" -DQUERN_FUZZ=ON -DQUERN_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >"$configure_log" 2>&1 ||
  ! cmake --build "$build" -j "$jobs" --target "${targets[@]}"; then
  tail -n 30 "$configure_log"
  echo "fuzz.sh: build failed" >&2
  echo "0 passed, ${#targets[@]} failed"
  exit 1
fi

# --- fuzzing ----------------------------------------------------------------
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Fuzzes one target; its lines go to $work/result, and its status says
# whether it passed.
fuzz_one() {
  local target=$1 kind=${1#fuzz_}
  local work=$build/fuzz-work/$target
  local corpus=$work/corpus artifacts=$work/findings log=$work/last-run.log
  mkdir -p "$corpus" "$artifacts"
  rm -f "$artifacts"/*
  cp -f "$root/fuzz/corpus/$kind"/* "$corpus"/
  local max_len=65535
  [[ $target == fuzz_request ]] && max_len=65600
  # fuzz_machine's bytes choose a program, not its text: no dictionary, and
  # a few hundred bytes already make a long program.
  local dict=(-dict="$root/fuzz/quern.dict")
  [[ $target == fuzz_machine ]] && max_len=1024 dict=()
  [[ $target == fuzz_lsp ]] && dict=(-dict="$root/fuzz/lsp.dict")

  local start=$SECONDS status
  "$build/fuzz/$target" "$corpus" "$root/fuzz/regressions" \
    "${dict[@]}" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
    >"$log" 2>&1
  status=$?
  local elapsed=$((SECONDS - start)) runs findings
  runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  [[ -n $runs ]] || runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
  findings=("$artifacts"/*)
  [[ -e ${findings[0]} ]] || findings=()

  if ((status == 0 && ${#findings[@]} == 0)); then
    echo "$target: ${runs:-?} executions in $elapsed s, no findings"
    return 0
  fi
  grep -E -m 20 'ERROR:|fuzz_(compile|request|machine|lsp):|SUMMARY|runtime error|internal failure' "$log"
  echo "$target: FAILED (exit status $status) after ${runs:-?} executions in $elapsed s;" \
    "full log: $log"
  for f in "${findings[@]}"; do echo "$target: crashing input: $f"; done
  ((${#findings[@]})) || echo "$target: no input was saved; see the log"
  return 1
}

# FUZZ_JOBS targets at a time, each printing its lines when it ends.
declare -A running=()
passed=0
failed=0
reap() {
  local pid target
  wait -n -p pid "${!running[@]}"
  local status=$?
  target=${running[$pid]}
  unset "running[$pid]"
  cat "$build/fuzz-work/$target/result"
  if ((status == 0)); then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}
for target in "${targets[@]}"; do
  while ((${#running[@]} >= jobs)); do reap; done
  mkdir -p "$build/fuzz-work/$target"
  fuzz_one "$target" >"$build/fuzz-work/$target/result" 2>&1 &
  running[$!]=$target
done
while ((${#running[@]})); do reap; done

echo "$passed passed, $failed failed"
((failed == 0))
