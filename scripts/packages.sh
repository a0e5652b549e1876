# shellcheck shell=bash
# Sourced by every script that installs or builds: what each purpose needs
# from Debian, how a package is found and installed, what Node.js the npm
# projects need, how a build folder is made ready, and how a server the
# tests started is stopped. The lists below are
# the only ones; a script takes its own and never names a package itself.

# --- what each purpose needs ----------------------------------------------------
# The native library and its programs (cgi, explain, quern).
packages_build=(cmake g++ make libicu-dev nlohmann-json3-dev libcli11-dev)
# The page as a static site: the module is compiled by emscripten (which
# brings clang and, where none is installed, Debian's Node.js); the page is
# bundled with Node.js and npm (need_node).
packages_site=("${packages_build[@]}" emscripten)
# The service: the site, served by lighttpd running the cgi.
packages_serve=("${packages_site[@]}" lighttpd)
# Fuzzing: libFuzzer and the sanitizers' runtimes come with clang.
packages_fuzz=(cmake make clang libclang-rt-14-dev libicu-dev nlohmann-json3-dev libcli11-dev)
# Every test: the unit tests (GoogleTest; perl's prove reads quern --test's
# report; python3's html.parser its page; Neovim's own language client drives
# quern --lsp), the sanitizer and fuzz build, the guides' commands (Graphviz,
# curl), and the page in Chromium with a font, the systemd unit checked by
# systemd-analyze; ccache lets builds with the same flags share objects.
packages_test=("${packages_serve[@]}" "${packages_fuzz[@]}" libgtest-dev perl python3 neovim
  graphviz curl chromium fonts-dejavu-core systemd ccache)
# The benchmarks: processes (Google Benchmark, time), the service under load
# (lighttpd, ab, curl, network namespaces), the page in Chromium, and plots.
packages_bench=("${packages_serve[@]}" libc6-dev libbenchmark-dev gnuplot-nox time apache2-utils
  curl iproute2 chromium fonts-dejavu-core)

# --- installing -----------------------------------------------------------------
# Runs a command as root: directly when this is root, else through sudo,
# which must not ask for a password.
as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo -n "$@"
  else
    echo "$(basename "$0"): need root to run: $*" >&2
    return 1
  fi
}

# Whether the Debian package named is installed.
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# Installs the Debian packages given as arguments that are missing, as root;
# fails when that cannot be done. Their scripts may not start a service
# meanwhile (lighttpd's would take port 80).
ensure_packages() {
  local missing=() package guard="" rc
  for package in "$@"; do
    [[ " ${missing[*]} " == *" $package "* ]] || installed "$package" || missing+=("$package")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "$(basename "$0"): installing ${missing[*]}" >&2
  if [[ ! -e /usr/sbin/policy-rc.d ]]; then
    guard=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' | as_root tee "$guard" >/dev/null && as_root chmod 755 "$guard"
  fi
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2 &&
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null >&2
  rc=$?
  [[ -n "$guard" ]] && as_root rm -f "$guard"
  return "$rc"
}

# --- Node.js --------------------------------------------------------------------
# Makes node and npm available, from Debian where either is missing (a Node.js
# from elsewhere, with its own npm, is kept), then checks that node is as new
# as the npm project in the folder given asks in its package.json's engines
# (">=N" or ">=N.M"). Says in one line what is needed when it is not.
need_node() {
  local project="$1" wanted have
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    local pkgs=()
    command -v node >/dev/null || pkgs+=(nodejs)
    command -v npm >/dev/null || pkgs+=(npm)
    ensure_packages "${pkgs[@]}" || return 1
  fi
  wanted="$(sed -n 's/.*"node": *">= *v\{0,1\}\([0-9.]*\).*/\1/p' "$project/package.json" | head -n 1)"
  have="$(node --version 2>/dev/null | sed -n 's/^v\([0-9.]*\).*/\1/p')"
  if [[ -z "$wanted" ]]; then
    echo "$(basename "$0"): $project/package.json names no Node.js version (engines.node \">=N\")" >&2
    return 1
  fi
  if [[ -z "$have" || "$(printf '%s\n' "$wanted" "$have" | sort -V | head -n 1)" != "$wanted" ]]; then
    echo "$(basename "$0"): needs Node.js $wanted or later, found ${have:+v}${have:-none}:" \
      "install Debian 12's (apt-get install nodejs npm) or a newer one from nodejs.org" >&2
    return 1
  fi
}

# --- build folders --------------------------------------------------------------
# Configures the CMake build folder given (the rest of the arguments go to
# the configure command) unless it holds a finished configuration: the cache
# and the files the build tool reads. A configure that failed or was cut
# short leaves the cache without them, and is run again.
ensure_configured() {
  local dir="$1" configure=(cmake)
  shift
  if [[ "${1:-}" == emcmake ]]; then
    configure=(emcmake cmake)
    shift
  fi
  if [[ -f "$dir/CMakeCache.txt" && ((-f "$dir/Makefile" && -f "$dir/CMakeFiles/Makefile2") ||
    -f "$dir/build.ninja") ]]; then
    return 0
  fi
  "${configure[@]}" -S "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)" -B "$dir" "$@"
}

# --- processes ------------------------------------------------------------------
# Stops the process group that the process given leads (a server started with
# setsid, with whatever it started): TERM, up to ten seconds to end, then KILL.
stop_group() {
  local pid="$1"
  kill -TERM -- "-$pid" 2>/dev/null
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL -- "-$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
