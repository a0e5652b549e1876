#!/usr/bin/env bash
# Benchmarks the playground compiling in the page (bench/page_bench.mjs): the
# static site of scripts/site.sh served on loopback by a plain file server,
# measured in headless Chromium, beside the site of a baseline revision
# measured in the same run. Prints a table of the figures with each target
# met or MISSED, also written to $BUILD_DIR/bench-results/page.md.
#
# Usage: scripts/bench_page.sh [BASELINE | --alone]
#   BASELINE  the revision whose page the figures are set against (default
#             90102e4, the last page that compiled on its main thread); its
#             site is built from git archive once, into
#             $BUILD_DIR/page-baseline/<commit>/site
#   --alone   measures this page alone
# Environment: BUILD_DIR (default <repo>/build), and the run counts of
# bench/page_bench.mjs (TYPICAL_RUNS, SHAPE_RUNS, PASTE_RUNS, VIEW_RUNS,
# KEY_RUNS, LOAD_RUNS).
# Installs what it needs when it is missing (as root).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
ensure_packages "${packages_bench[@]}"
need_node "$root/tests/web"

site="$build/site"
BUILD_DIR="$build" bash "$root/scripts/site.sh" "$site"
cmake --build "$build" --target print_shape -j2 >&2
(cd "$root/tests/web" && npm ci --no-audit --no-fund >&2)

baseline="${1:-90102e4}"
[[ $baseline == --alone ]] && baseline=""
base_site=""
if [[ -n "$baseline" ]]; then
  commit="$(git -C "$root" rev-parse --verify --quiet "$baseline^{commit}")" || {
    echo "bench_page.sh: no such revision: $baseline" >&2
    exit 1
  }
  base_site="$build/page-baseline/$commit/site"
  if [[ ! -f "$base_site/index.html" ]]; then
    echo "bench_page.sh: building the site of $baseline ($commit)" >&2
    work="$build/page-baseline/work-$commit"
    rm -rf "$work"
    mkdir -p "$work/src"
    git -C "$root" archive --format=tar "$commit" | tar -x -C "$work/src"
    BUILD_DIR="$work/build" bash "$work/src/scripts/site.sh" "$base_site.tmp" >&2
    mv "$base_site.tmp" "$base_site"
    rm -rf "$work"
  fi
fi

mkdir -p "$build/bench-results"
echo "== $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)${baseline:+, baseline $baseline} =="
BASELINE_NAME="$baseline" node "$root/bench/page_bench.mjs" "$site" "$build/print_shape" ${base_site:+"$base_site"} |
  tee "$build/bench-results/page.md"
