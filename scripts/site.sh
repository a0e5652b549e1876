#!/usr/bin/env bash
# Builds the playground as a static site that compiles in the page:
#
#   scripts/site.sh [DIR] [--course COURSE] [--from SITE]
#                                                (default DIR: <repo>/build/site)
#
# DIR then holds the page (web/public, with what web/build.sh bundles into
# its dist/), quern.mjs and quern.wasm: any static
# file server serves the whole playground from it (python3 -m http.server,
# run in DIR, for one).
#
# With --course, DIR is the site of the course in the folder COURSE (exercise
# files and an optional index.md): index.html lists its exercises, the
# playground is playground.html, and a service worker keeps the site for use
# without a network (web/course/build.mjs, which reads each exercise file with
# the native build's quern --exercise).
#
# With --from, the page and the module are those of SITE, a site that this
# script built already, and nothing of them is built again (the tests build
# a course's site beside the playground's this way).
#
# Installs what is missing (emscripten and the native build's tools from
# Debian, Node.js, the page's packages from npm; no test tool), generates the
# Unicode tables with the native build in ${BUILD_DIR:-<repo>/build}, builds
# quern.wasm with emscripten in $BUILD_DIR/wasm (both incremental), bundles
# the page, and builds the
# site into a fresh folder beside DIR, which takes DIR's place only once
# every step has succeeded: a failed build leaves DIR as it was.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
site=""
course=""
from=""
usage="usage: scripts/site.sh [DIR] [--course COURSE] [--from SITE]"
while (($#)); do
  case "$1" in
    --course | --from)
      [[ $# -ge 2 ]] || { echo "site.sh: $1 needs a folder" >&2; exit 2; }
      [[ $1 == --course ]] && course="$2" || from="$2"
      shift 2
      ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *)
      [[ -z "$site" ]] || { echo "$usage" >&2; exit 2; }
      site="$1"
      shift
      ;;
  esac
done
site="${site:-$build/site}"
if [[ -n "$course" && ! -d "$course" ]]; then
  echo "site.sh: $course is not a folder" >&2
  exit 2
fi
if [[ -n "$from" && ! -f "$from/index.html" ]]; then
  echo "site.sh: $from holds no site" >&2
  exit 2
fi

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
ensure_packages "${packages_site[@]}" >&2
need_node "$root/web"

# The native build gives the Unicode tables (its generator) and, for a
# course, quern, which reads the exercise files.
targets=()
[[ -n "$from" ]] || targets+=(unicode_tables)
[[ -z "$course" ]] || targets+=(quern_cli)
if ((${#targets[@]})); then
  ensure_configured "$build" >&2
  cmake --build "$build" --target "${targets[@]}" -j2 >&2
  build="$(cd "$build" && pwd)"
fi

if [[ -z "$from" ]]; then
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
  ensure_configured "$wasm" emcmake -DCMAKE_BUILD_TYPE=Release -DQUERN_WERROR=ON \
    -DQUERN_UNICODE_TABLES="$build/generated/unicode_tables.cc" >&2
  cmake --build "$wasm" -j2 >&2

  # The reference's examples are compiled by the module just built.
  QUERN_WASM="$wasm/wasm/quern.wasm" bash "$root/web/build.sh" >&2
elif [[ -n "$course" ]]; then
  bash "$root/web/build.sh" --packages >&2
fi

# The new site, beside the old one (the same file system, so that it is
# renamed into place); removed on any failure.
site="${site%/}"
mkdir -p "$(dirname "$site")"
fresh="$(mktemp -d "$(dirname "$site")/.$(basename "$site").new.XXXXXX")"
trap 'rm -rf "$fresh"' EXIT
if [[ -n "$from" ]]; then
  cp -R "$from/." "$fresh/"
else
  cp -R "$root/web/public/." "$fresh/"
  cp "$build/wasm/wasm/quern.wasm" "$root/wasm/quern.mjs" "$fresh/"
fi
if [[ -n "$course" ]]; then
  node "$root/web/course/build.mjs" "$fresh" "$course" "$build/quern" >&2
fi
chmod -R u=rwX,go=rX "$fresh"
# The swap: two renames, between which DIR is briefly missing.
if [[ -e "$site" ]]; then
  old="$(mktemp -d "$(dirname "$site")/.$(basename "$site").old.XXXXXX")"
  mv -T "$site" "$old"
  mv -T "$fresh" "$site" || { mv -T "$old" "$site"; exit 1; }
  rm -rf "$old"
else
  mv -T "$fresh" "$site"
fi
if [[ -n "$course" ]]; then
  echo "site.sh: the course site of $course is in $site" >&2
else
  echo "site.sh: the playground is in $site" >&2
fi
