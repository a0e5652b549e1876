#!/usr/bin/env bash
# Builds the programs of an older revision, to compare against: its cgi and
# its command-line quern, and with --wasm also its page's module. The
# revision's tree is taken with git archive into a directory of its own under
# the build directory and configured with the options the benchmarks use
# (Release, no unit tests); the module is built by the revision's own
# scripts/site.sh. The tree and the build are removed afterwards and only the
# programs are kept, in <build>/baseline/<commit>/ (cgi, quern, and site/
# with quern.wasm and quern.mjs), so a later run for the same commit reuses
# them.
#
# Usage: bench/build_baseline.sh [--wasm] REVISION BUILD_DIR [JOBS]
# Prints the path of the cgi (that folder also holds quern, where the revision
# has one); with --wasm, the
# path of the folder that holds the module's quern.wasm and quern.mjs.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
wasm=0
if [[ ${1:-} == --wasm ]]; then
  wasm=1
  shift
fi
usage="usage: build_baseline.sh [--wasm] REVISION BUILD_DIR [JOBS]"
revision="${1:?$usage}"
build="${2:?$usage}"
jobs="${3:-2}"

commit="$(git -C "$root" rev-parse --verify --quiet "$revision^{commit}")" || {
  echo "build_baseline.sh: no such revision: $revision" >&2
  exit 1
}
kept="$build/baseline/$commit"
# A revision from before the command-line quern leaves a note that it has none.
if ((wasm)); then
  if [[ -f "$kept/site/quern.wasm" ]]; then
    echo "build_baseline.sh: reusing the module of $revision ($commit)" >&2
    echo "$kept/site"
    exit 0
  fi
elif [[ -x "$kept/cgi" && (-x "$kept/quern" || -f "$kept/no-quern") ]]; then
  echo "build_baseline.sh: reusing the cgi of $revision ($commit)" >&2
  echo "$kept/cgi"
  exit 0
fi

work="$build/baseline/work-$commit"
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work/src" "$kept"
git -C "$root" archive --format=tar "$commit" | tar -x -C "$work/src"
if ((wasm)); then
  if [[ ! -f "$work/src/scripts/site.sh" ]]; then
    echo "build_baseline.sh: $revision has no page module to build (no scripts/site.sh)" >&2
    exit 1
  fi
  echo "build_baseline.sh: building the page's module of $revision ($commit)" >&2
  rm -rf "$kept/site.tmp"
  BUILD_DIR="$work/build" bash "$work/src/scripts/site.sh" "$kept/site.tmp" >&2
  mv -T "$kept/site.tmp" "$kept/site"
  echo "$kept/site"
  exit 0
fi
echo "build_baseline.sh: building the cgi and quern of $revision ($commit)" >&2
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DQUERN_TESTS=OFF >/dev/null
programs=(cgi)
targets="$(cmake --build "$work/build" --target help)"
if grep -qw quern_cli <<<"$targets"; then
  cmake --build "$work/build" --parallel "$jobs" --target cgi quern_cli >&2
  programs+=(quern)
else
  cmake --build "$work/build" --parallel "$jobs" --target cgi >&2
  touch "$kept/no-quern"
fi
for program in "${programs[@]}"; do
  cp "$work/build/$program" "$kept/$program.tmp"
  mv "$kept/$program.tmp" "$kept/$program"
done
echo "$kept/cgi"
