#!/usr/bin/env bash
# Builds the cgi program of an older revision, to compare against, and prints
# the path of the executable. The revision's tree is taken with git archive
# into a directory of its own under the build directory and configured with
# the options the benchmarks use (Release, no unit tests); the tree and the
# build are removed afterwards and only the executable is kept, under
# <build>/baseline/<commit>/cgi, so a later run for the same commit reuses it.
#
# Usage: bench/build_baseline.sh REVISION BUILD_DIR [JOBS]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
revision="${1:?usage: build_baseline.sh REVISION BUILD_DIR [JOBS]}"
build="${2:?usage: build_baseline.sh REVISION BUILD_DIR [JOBS]}"
jobs="${3:-2}"

commit="$(git -C "$root" rev-parse --verify --quiet "$revision^{commit}")" || {
  echo "build_baseline.sh: no such revision: $revision" >&2
  exit 1
}
kept="$build/baseline/$commit"
if [[ -x "$kept/cgi" ]]; then
  echo "build_baseline.sh: reusing the cgi of $revision ($commit)" >&2
  echo "$kept/cgi"
  exit 0
fi

work="$build/baseline/work-$commit"
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work/src" "$kept"
echo "build_baseline.sh: building the cgi of $revision ($commit)" >&2
git -C "$root" archive --format=tar "$commit" | tar -x -C "$work/src"
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DQUERN_TESTS=OFF >/dev/null
cmake --build "$work/build" --parallel "$jobs" --target cgi >&2
cp "$work/build/cgi" "$kept/cgi.tmp"
mv "$kept/cgi.tmp" "$kept/cgi"
echo "$kept/cgi"
