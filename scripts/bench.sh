#!/usr/bin/env bash
# Builds the benchmarks and runs them: first the cost of a request as the web
# server pays it (a fresh cgi process per request, against a floor program
# that only reads its input), with the peak memory and page faults of the
# cgi, the floor and quern --explain; then that cost against body size for
# each extreme shape, beside the cgi of a baseline revision, drawn as a chart;
# then the page's module (quern.wasm in Node) beside the baseline's; then the
# throughput of each compile stage; then requests per second through lighttpd
# (scripts/bench_http.sh). Ends with a summary of the targets, each marked met
# or MISSED, and the table of requests per second.
#
# Usage: scripts/bench.sh [BASELINE [extra options for the stage benchmarks]]
#   BASELINE  the revision whose cgi, quern and module the curves, the module's
#             table and the HTTP table compare against: the previous build
#             (default: 01919b5, main before the streaming back end); built
#             once with bench/build_baseline.sh
# Environment:
#   BUILD_DIR          build directory (default: <repo>/build-bench)
#   JOBS               parallel build jobs (default: 2)
#   TYPICAL_RUNS       cgi/floor pairs for the typical request (default: 300)
#   EXTREME_RUNS       cgi/floor pairs for each shape and size (default: 60)
#   CURVE_RUNS         runs of each binary per shape and size on the curves (default: 40)
#   CURVE_SIZES        body sizes on the curves (default: 4096,8192,16384,32768,49152,65535)
#   MODULE_RUNS        runs of each module per shape (default: 10; see bench/module_bench.mjs)
#   BASELINE_SITE      a folder with the baseline's quern.wasm and quern.mjs, to use
#                      instead of building the baseline's module
#   STAGE_MIN_TIME     seconds per stage benchmark repetition (default: 0.2)
#   STAGE_REPETITIONS  repetitions per stage benchmark, median kept (default: 3)
#   HTTP_*             see scripts/bench_http.sh
# Writes everything to <build>/bench-results; the chart also to docs/cost-vs-size.png.
# Installs the Debian packages it needs when they are missing (as root).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-bench}"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
ensure_packages "${packages_bench[@]}"
need_node "$root/web"
baseline=01919b5
if (($#)) && [[ $1 != -* ]]; then
  baseline="$1"
  shift
fi
started=$SECONDS

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUERN_BENCH=ON -DQUERN_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "${JOBS:-2}" --target cgi quern_cli floor proc_bench stages grade_bench
build="$(cd "$build" && pwd)"
baseline_cgi="$("$root/bench/build_baseline.sh" "$baseline" "$build" "${JOBS:-2}")"
# The page's module, this build's and the baseline's (which a revision from
# before the module's stretches lacks: then this build's is measured alone).
BUILD_DIR="$build" bash "$root/scripts/site.sh" "$build/site"
baseline_site="${BASELINE_SITE:-}"
if [[ -z "$baseline_site" ]] &&
  ! baseline_site="$("$root/bench/build_baseline.sh" --wasm "$baseline" "$build" "${JOBS:-2}")"; then
  echo "bench.sh: no page module of $baseline; the module is measured alone" >&2
  baseline_site=""
fi

results="$build/bench-results"
mkdir -p "$results"
echo
echo "== $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) =="
echo
"$build/bench/proc_bench" --cgi "$build/cgi" --floor "$build/bench/floor" --quern "$build/quern" \
  --typical-runs "${TYPICAL_RUNS:-300}" --extreme-runs "${EXTREME_RUNS:-60}" |
  tee "$results/process.txt"
echo
echo "== cost against body size, baseline $baseline; load average $(cut -d' ' -f1-3 /proc/loadavg) =="
echo
curve_runs="${CURVE_RUNS:-40}"
"$build/bench/proc_bench" --cgi "$build/cgi" --floor "$build/bench/floor" \
  --baseline-cgi "$baseline_cgi" --curve "$results/curve.dat" --curve-runs "$curve_runs" \
  --curve-sizes "${CURVE_SIZES:-4096,8192,16384,32768,49152,65535}" |
  tee "$results/curve.txt"
before="$(git -C "$root" rev-parse --short "$baseline^{commit}")"
[[ "$before" == "$baseline" ]] || before="$baseline ($before)"
gnuplot -e "data='$results/curve.dat'; output='$results/cost-vs-size.png'" \
  -e "before='$before'; after='$(git -C "$root" rev-parse --short HEAD)'; runs='$curve_runs'" \
  "$root/bench/cost_vs_size.gp"
mkdir -p "$root/docs"
cp "$results/cost-vs-size.png" "$root/docs/cost-vs-size.png"
echo
echo "chart: $results/cost-vs-size.png (copied to docs/cost-vs-size.png)"
echo
echo "== the page's module against $baseline; load average $(cut -d' ' -f1-3 /proc/loadavg) =="
echo
BASELINE_NAME="$baseline" node --expose-gc "$root/bench/module_bench.mjs" "$build/bench/proc_bench" \
  "$build/site" ${baseline_site:+"$baseline_site"} | tee "$results/module.txt"
echo
echo "== stage benchmarks; load average $(cut -d' ' -f1-3 /proc/loadavg) =="
echo
"$build/bench/stages" --benchmark_color=false \
  --benchmark_min_time="${STAGE_MIN_TIME:-0.2}" \
  --benchmark_repetitions="${STAGE_REPETITIONS:-3}" \
  --benchmark_report_aggregates_only=true "$@" |
  tee "$results/stages.txt"
echo
echo "== grading: quern --test, 30 files x 20 cases; load average $(cut -d' ' -f1-3 /proc/loadavg) =="
echo
"$build/bench/grade_bench" --benchmark_color=false --benchmark_report_aggregates_only=true |
  tee "$results/grade.txt"
echo
echo "== requests per second through lighttpd; load average $(cut -d' ' -f1-3 /proc/loadavg) =="
echo
BUILD_DIR="$build" bash "$root/scripts/bench_http.sh" "$baseline"
echo
echo "== targets (load average $(cut -d' ' -f1-3 /proc/loadavg)); full output in $results =="
grep -h '^TARGET' "$results/process.txt" "$results/module.txt" "$results/stages.txt"
echo
cat "$results/http.txt"
echo
echo "chart: $results/cost-vs-size.png and docs/cost-vs-size.png;" \
  "curve data: $results/curve.dat; $((SECONDS - started)) s in all"
