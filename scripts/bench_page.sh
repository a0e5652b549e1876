#!/usr/bin/env bash
# Benchmarks the playground compiling in the page (bench/page_bench.mjs): the
# static site of scripts/site.sh served on loopback by a plain file server,
# measured in headless Chromium. Prints a table of the figures with each
# target met or MISSED, also written to $BUILD_DIR/bench-results/page.md.
#
# Usage: scripts/bench_page.sh
# Environment: BUILD_DIR (default <repo>/build), and the run counts of
# bench/page_bench.mjs (TYPICAL_RUNS, SHAPE_RUNS, KEY_RUNS, LOAD_RUNS).
# Installs what it needs when it is missing (as root).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
needed=(fonts-dejavu-core)
[[ -x /usr/bin/chromium ]] || needed+=(chromium)
command -v node >/dev/null && command -v npm >/dev/null || needed+=(nodejs npm)
ensure_packages "${needed[@]}"

site="$build/site"
BUILD_DIR="$build" bash "$root/scripts/site.sh" "$site"
cmake --build "$build" --target print_shape -j2 >&2
(cd "$root/tests/web" && npm ci --no-audit --no-fund >&2)

mkdir -p "$build/bench-results"
echo "== $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) =="
node "$root/bench/page_bench.mjs" "$site" "$build/print_shape" | tee "$build/bench-results/page.md"
