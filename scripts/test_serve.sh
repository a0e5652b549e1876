#!/usr/bin/env bash
# Proves the README's serve command on what serving alone installs: from a
# clean copy of the checkout, with every program, header, library and CMake
# package of the test-only Debian packages hidden, `bash scripts/serve.sh`
# must build, serve the page and compile. Then the same again after a
# configure cut short: the build folders keep their caches and what was
# compiled, but lose the files that the build tool reads.
#
# The test-only packages are those of packages_test that nothing serving
# needs depends on. Each of their files is hidden by /dev/null bound over it
# in a mount namespace of the server's own (unshare -m, so as root).
#
# Env: WORK_DIR  where the copy is made (default <repo>/build-serve, emptied
#                first); its site (WORK_DIR/build/site) is left for the web
#                tests, which serve the page that this built.
# Ends with "N passed, M failed", counting the two serves.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${WORK_DIR:-$root/build-serve}"
# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"

fail() {
  echo "test_serve.sh: $*" >&2
  echo "0 passed, 2 failed"
  exit 1
}
[[ $(id -u) -eq 0 ]] || fail "needs root (a mount namespace hides the test tools)"
ensure_packages "${packages_test[@]}" || fail "installing the test packages failed"

# --- what serving may not use ---------------------------------------------------
serving="$(apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts \
  --no-breaks --no-replaces --no-enhances "${packages_serve[@]}" 2>/dev/null | grep -v '^ ' | tr -d '<>')"
# ccache stays: the test command's builds share objects through it.
hidden_packages=()
for package in "${packages_test[@]}"; do
  [[ $package == ccache ]] || grep -qxF "$package" <<<"$serving" ||
    [[ " ${hidden_packages[*]} " == *" $package "* ]] || hidden_packages+=("$package")
done
mapfile -t hidden < <(dpkg -L "${hidden_packages[@]}" 2>/dev/null |
  grep -E '^(/usr)?/s?bin/|^/usr/include/|^/usr/lib/.*(/cmake/.*|\.a|\.so[.0-9]*)$' |
  while read -r f; do [[ -f "$f" && ! -L "$f" ]] && echo "$f"; done)
# Their folders of headers and CMake packages that nothing serving owns go
# whole, under an empty file system: a find_package must not even see an
# empty file there.
mapfile -t hidden_dirs < <(dpkg -L "${hidden_packages[@]}" 2>/dev/null |
  grep -E '^/usr/include/[^/]+$|/cmake/[^/]+$' | while read -r d; do
    [[ -d "$d" && ! -L "$d" ]] || continue
    owners="$(dpkg -S "$d" 2>/dev/null | sed 's/: .*//; s/, /\n/g' | sed 's/:[^:]*$//')"
    grep -qxF -f <(printf '%s\n' "$serving") <<<"$owners" || echo "$d"
  done)
echo "test_serve.sh: hiding ${#hidden[@]} files and ${#hidden_dirs[@]} folders of ${hidden_packages[*]}"
((${#hidden[@]} > 0)) || fail "found no test-only files to hide"

# --- the copy -------------------------------------------------------------------
rm -rf "$work"
mkdir -p "$work/clone"
# What a clean clone holds: the tracked files (and new ones not yet added),
# as they are in the work tree.
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  xargs -0 cp --parents -t "$work/clone") || fail "cannot copy the checkout"
chmod 0755 "$work"

server_pid=""
stop_server() {
  [[ -z "$server_pid" ]] || stop_group "$server_pid"
  server_pid=""
}
trap stop_server EXIT

# Serves the copy with the test tools hidden, waits until it listens (or
# ends), and checks the page, the module and a compile against quern's own
# answer.
serve_and_check() {
  local name="$2" log="$work/$1.log" port
  port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  # shellcheck disable=SC2016
  setsid unshare -m --propagation private bash -c '
    for f in "${@:2}"; do
      if [[ -d "$f" ]]; then
        mount -t tmpfs -o ro,size=4k none "$f" || exit 1
      elif [[ -e "$f" ]]; then # not in a folder hidden already
        mount --bind /dev/null "$f" || exit 1
      fi
    done
    exec bash "$0/clone/scripts/serve.sh" "$1"' \
    "$work" "$port" "${hidden_dirs[@]}" "${hidden[@]}" >"$log" 2>&1 </dev/null &
  server_pid=$!
  local ready=""
  for _ in $(seq 6000); do # up to 10 minutes: a first serve builds everything
    kill -0 "$server_pid" 2>/dev/null || break
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      ready=1
      break
    fi
    sleep 0.1
  done
  if [[ -z "$ready" ]]; then
    echo "$name: the server did not start; the end of $log:"
    tail -n 25 "$log"
    stop_server
    return 1
  fi
  local url="http://127.0.0.1:$port" ok=1 answer expected
  curl -fsS -o "$work/index.html" "$url/" && grep -q '<title>' "$work/index.html" ||
    { echo "$name: GET / gave no page"; ok=""; }
  curl -fsS -o /dev/null "$url/quern.wasm" || { echo "$name: GET /quern.wasm failed"; ok=""; }
  printf 'int f(int n) {\n  int s = 0;\n  while (n > 0) { s = s + n; n = n - 1; }\n  return s;\n}\n' >"$work/f.c"
  answer="$(curl -sS -D "$work/headers" --data-binary @"$work/f.c" \
    -H 'Content-Type: text/plain; charset=UTF-8' "$url/compile")"
  expected="$("$work/clone/build/quern" "$work/f.c")"
  if ! grep -q '^HTTP/1.1 200' "$work/headers" || [[ "$answer" != "$expected" || -z "$expected" ]]; then
    echo "$name: POST /compile did not answer the assembly that quern gives"
    ok=""
  fi
  stop_server
  [[ -n "$ok" ]] && echo "$name: served the page and compiled"
}

passed=0
failed=0
count() { if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi; }

count serve_and_check clean "from a clean clone"

# A configure cut short: the cache stays, the build tool's files go.
for dir in "$work/clone/build" "$work/clone/build/wasm"; do
  [[ -f "$dir/CMakeCache.txt" ]] || continue
  find "$dir" \( -name Makefile -o -name Makefile2 -o -name Makefile.cmake -o -name build.ninja \
    -o -name cmake_install.cmake \) -delete
done
count serve_and_check cut-short "after a configure cut short"

echo "$passed passed, $failed failed"
((failed == 0))
