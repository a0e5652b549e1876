#!/usr/bin/env bash
# Builds the playground as a static site that compiles in the page:
#
#   scripts/site.sh [DIR]      (default <repo>/build/site)
#
# DIR then holds index.html, playground.css, dist/playground.js, quern.mjs and
# quern.wasm, and nothing else: any static file server serves the whole
# playground from it (python3 -m http.server, run in DIR, for one).
#
# Installs what is missing (emscripten and the native build's tools from
# Debian, the page's packages from npm), generates the Unicode tables with the
# native build in ${BUILD_DIR:-<repo>/build}, builds quern.wasm with emscripten
# in $BUILD_DIR/wasm (both incremental), bundles the page and copies it all
# into DIR (files of the same names are replaced, others left alone).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
site="${1:-$build/site}"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
ensure_packages cmake g++ make libicu-dev nlohmann-json3-dev libcli11-dev libgtest-dev perl emscripten >&2

# The Unicode tables, from the native build's generator.
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" >&2
fi
cmake --build "$build" --target unicode_tables -j2 >&2
build="$(cd "$build" && pwd)"

# emscripten's JavaScript optimiser finds Debian's acorn only through
# NODE_PATH. Debian ships emscripten's system libraries prebuilt in a frozen
# cache, which emcc still locks: where that directory is not writable (not
# root), a cache of our own links to the same libraries.
export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"
if [[ -z "${EM_CACHE:-}" && ! -w /usr/share/emscripten/cache ]]; then
  export EM_CACHE="$build/emcache"
  mkdir -p "$EM_CACHE"
  for entry in /usr/share/emscripten/cache/*; do
    [[ "$(basename "$entry")" == cache.lock ]] || ln -sfn "$entry" "$EM_CACHE/"
  done
fi
wasm="$build/wasm"
if [[ ! -f "$wasm/CMakeCache.txt" ]]; then
  emcmake cmake -S "$root" -B "$wasm" -DCMAKE_BUILD_TYPE=Release -DQUERN_WERROR=ON \
    -DQUERN_UNICODE_TABLES="$build/generated/unicode_tables.cc" >&2
fi
cmake --build "$wasm" -j2 >&2

bash "$root/web/build.sh" >&2

mkdir -p "$site"
rm -rf "$site/dist" # the page's chunks have new names at each change
cp -R "$root/web/public/." "$site/"
cp "$wasm/wasm/quern.wasm" "$root/wasm/quern.mjs" "$site/"
chmod -R u=rwX,go=rX "$site"
echo "site.sh: the playground is in $site" >&2
