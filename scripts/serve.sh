#!/usr/bin/env bash
# Serves quern on the loopback interface: the playground page at / and the
# compiler at POST /compile, through lighttpd running the cgi program.
#
# Usage: scripts/serve.sh [PORT]          (or PORT=... scripts/serve.sh)
# Env:   PORT       port to listen on, default 8080 (an argument wins)
#        BUILD_DIR  CMake build directory holding the cgi, default <repo>/build
#
# Installs lighttpd and the build tools when they are missing, configures and builds the cgi when
# needed (the build is incremental), writes the filled-in lighttpd
# configuration to $BUILD_DIR/web/lighttpd.conf and runs lighttpd in the
# foreground until it is stopped.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port="${1:-${PORT:-8080}}"
build="${BUILD_DIR:-$root/build}"
export PATH="$PATH:/usr/sbin:/sbin"

if ! [[ "$port" =~ ^[0-9]+$ ]] || ((port < 1 || port > 65535)); then
  echo "serve.sh: invalid port '$port'" >&2
  exit 2
fi

as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    echo "serve.sh: need root to run: $*" >&2
    return 1
  fi
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in lighttpd cmake g++ make libicu-dev libgtest-dev nlohmann-json3-dev libcli11-dev; do installed "$p" || missing+=("$p"); done
if ((${#missing[@]})); then
  echo "serve.sh: installing ${missing[*]}" >&2
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}" >&2
fi

# Configure only once; `cmake --build` then rebuilds just what is stale.
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" >&2
fi
cmake --build "$build" --target cgi explain quern_cli -j2 >&2

# The page: its packages when missing, then the bundle (a second or two).
bash "$root/web/build.sh" >&2

cgi="$build/cgi"
[[ -x "$cgi" ]] || { echo "serve.sh: no cgi executable at $cgi" >&2; exit 1; }
build="$(cd "$build" && pwd)"
cgi="$build/cgi"
explain="$build/explain"
rundir="$build/web"
docroot="$root/web/public"
conf="$rundir/lighttpd.conf"

for path in "$docroot" "$cgi" "$explain" "$rundir"; do
  if [[ "$path" == *[\"\\@]* ]]; then
    echo "serve.sh: unsupported character in path $path" >&2
    exit 1
  fi
done

mkdir -p "$rundir/tmp"
# Paths go in as literal text: escape what sed would treat specially.
sed_escape() { printf '%s' "$1" | sed -e 's/[&|\\]/\\&/g'; }
sed -e "s|@PORT@|$port|g" \
  -e "s|@DOCROOT@|$(sed_escape "$docroot")|g" \
  -e "s|@RUNDIR@|$(sed_escape "$rundir")|g" \
  -e "s|@CGI@|$(sed_escape "$cgi")|g" \
  -e "s|@EXPLAIN@|$(sed_escape "$explain")|g" \
  "$root/web/lighttpd.conf.in" >"$conf.tmp"
mv "$conf.tmp" "$conf"
lighttpd -tt -f "$conf" >&2

url="http://127.0.0.1:$port"
cat <<MSG
quern is served at $url/  (playground page)
compile a file with:
  curl --data-binary @f.c -H 'Content-Type: text/plain; charset=UTF-8' $url/compile
MSG
exec lighttpd -D -f "$conf"
