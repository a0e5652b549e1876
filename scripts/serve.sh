#!/usr/bin/env bash
# Serves quern on the loopback interface: the playground page at / and the
# compiler at POST /compile, through lighttpd running the cgi program.
#
# Usage: scripts/serve.sh [PORT]          (or PORT=... scripts/serve.sh)
# Env:   PORT              port to listen on, default 8080 (an argument wins)
#        BUILD_DIR         CMake build directory holding the cgi, default <repo>/build
#        RUN_DIR           where the served copies, configuration and logs go:
#                          default $BUILD_DIR/web/PORT, or /var/lib/quern/PORT as root
#        QUERN_USER        the user lighttpd and the cgi run as when started as
#                          root: default www-data (a system user "quern" is
#                          created if www-data does not exist)
#        QUERN_SLOTS       compiles that run at once, default 4 per core
#        QUERN_QUEUE       requests that wait for a slot, default 512
#        QUERN_CPU_MS      CPU time per compile process, default 10000 ms
#        QUERN_MEMORY_MIB  address space per compile process, default 512 MiB
#        SITE_DIR          a site that scripts/site.sh built already, served as
#                          it is instead of building one into $BUILD_DIR/site
#
# Installs what serving needs when it is missing (lighttpd, the build tools,
# emscripten, Node.js; no test tool), configures the build folder unless it
# holds a finished configuration, builds the cgi (the build is incremental),
# builds the page as scripts/site.sh does, copies the cgi and
# the page into the run directory, writes the filled-in lighttpd
# configuration and a systemd unit there, and runs lighttpd in the
# foreground until it is stopped. Started as root, lighttpd binds the port
# and then runs as QUERN_USER, and so does every cgi process; started as a
# normal user, everything runs as that user.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port="${1:-${PORT:-8080}}"
build="${BUILD_DIR:-$root/build}"
export PATH="$PATH:/usr/sbin:/sbin"

if ! [[ "$port" =~ ^[0-9]+$ ]] || ((port < 1 || port > 65535)); then
  echo "serve.sh: invalid port '$port'" >&2
  exit 2
fi

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"

ensure_packages "${packages_serve[@]}"
need_node "$root/web"

# `cmake --build` rebuilds just what is stale.
ensure_configured "$build" >&2
cmake --build "$build" --target cgi explain quern_cli -j2 >&2

# The page, as scripts/site.sh builds it for static hosts: it compiles in
# WebAssembly and posts to /explain only where that is unavailable.
page="${SITE_DIR:-$build/site}"
[[ -n "${SITE_DIR:-}" ]] || bash "$root/scripts/site.sh" "$page" >&2
[[ -f "$page/index.html" ]] || { echo "serve.sh: no site at $page" >&2; exit 1; }
page="$(cd "$page" && pwd)"

cgi="$build/cgi"
[[ -x "$cgi" ]] || { echo "serve.sh: no cgi executable at $cgi" >&2; exit 1; }
build="$(cd "$build" && pwd)"

# Another server on this port would have its copies and its slot counts
# replaced under it.
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "serve.sh: port $port is in use" >&2
  exit 1
fi

# --- the service's bounds ------------------------------------------------------
number() { # name value default
  local value="${2:-$3}"
  if ! [[ "$value" =~ ^[1-9][0-9]{0,8}$ ]]; then
    echo "serve.sh: $1 must be a positive number, not '$value'" >&2
    exit 2
  fi
  printf '%s' "$value"
}
slots="$(number QUERN_SLOTS "${QUERN_SLOTS:-}" $((4 * $(nproc))))"
queue="$(number QUERN_QUEUE "${QUERN_QUEUE:-}" 512)"
cpu_ms="$(number QUERN_CPU_MS "${QUERN_CPU_MS:-}" 10000)"
memory_mib="$(number QUERN_MEMORY_MIB "${QUERN_MEMORY_MIB:-}" 512)"
if ((slots + queue > 32767)); then
  echo "serve.sh: QUERN_SLOTS + QUERN_QUEUE must stay below 32768" >&2
  exit 2
fi
# One semaphore set per port: "q" and the port number.
slot_key=$((0x71000000 + port))

# --- the run directory ---------------------------------------------------------
# Started as root, the server runs as an unprivileged user, which cannot
# reach a checkout under /root: what it serves and runs is copied to a
# directory of its own, owned by root and only readable by that user, with
# the logs and uploads the one part it may write.
if [[ $(id -u) -eq 0 ]]; then
  user="${QUERN_USER:-www-data}"
  if ! id -u "$user" >/dev/null 2>&1; then
    [[ -z "${QUERN_USER:-}" ]] || { echo "serve.sh: no user $user" >&2; exit 1; }
    user=quern
    id -u "$user" >/dev/null 2>&1 ||
      useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
  fi
  group="$(id -gn "$user")"
  if [[ -z "${RUN_DIR:-}" ]]; then
    mkdir -p -m 0755 /var/lib/quern
    chmod 0755 /var/lib/quern
  fi
  rundir="${RUN_DIR:-/var/lib/quern/$port}"
  privileges="server.username  = \"$user\"
server.groupname = \"$group\""
else
  user="$(id -un)"
  group="$(id -gn)"
  rundir="${RUN_DIR:-$build/web/$port}"
  privileges="# Started as $user, not root: lighttpd keeps running as $user."
fi
mkdir -p "$rundir"
rundir="$(cd "$rundir" && pwd)"
conf="$rundir/lighttpd.conf"
for path in "$page" "$build" "$rundir"; do
  if [[ "$path" == *[\"\\@\ ]* ]]; then
    echo "serve.sh: unsupported character in path $path" >&2
    exit 1
  fi
done

# Fresh copies, swapped in whole.
mkdir -p "$rundir/bin" "$rundir/log" "$rundir/tmp"
# lighttpd opens its logs once it runs as the server's user.
touch "$rundir/log/error.log" "$rundir/log/access.log"
for program in cgi explain; do
  if [[ -x "$build/$program" ]]; then
    install -m 0755 "$build/$program" "$rundir/bin/$program.new"
    mv -f "$rundir/bin/$program.new" "$rundir/bin/$program"
  fi
done
rm -rf "$rundir/public.new"
cp -R "$page" "$rundir/public.new"
chmod -R u=rwX,go=rX "$rundir/public.new"
rm -rf "$rundir/public"
mv "$rundir/public.new" "$rundir/public"
if [[ $(id -u) -eq 0 ]]; then
  chown root:root "$rundir" "$rundir/bin"
  chmod 0755 "$rundir" "$rundir/bin"
  chown -R "$user:$group" "$rundir/log" "$rundir/tmp"
  chmod 0750 "$rundir/log"
  chmod 0700 "$rundir/tmp"
  if ! runuser -u "$user" -- test -x "$rundir/bin/cgi" -a -r "$rundir/public/index.html"; then
    echo "serve.sh: $user cannot reach $rundir (a parent folder is closed to it)" >&2
    exit 1
  fi
fi

# Paths go in as literal text: escape what sed would treat specially.
sed_escape() { printf '%s' "$1" | sed -e 's/[&|\\]/\\&/g'; }
fill() { # template output
  sed -e "s|@PORT@|$port|g" \
    -e "s|@DOCROOT@|$(sed_escape "$rundir/public")|g" \
    -e "s|@RUNDIR@|$(sed_escape "$rundir")|g" \
    -e "s|@CGI@|$(sed_escape "$rundir/bin/cgi")|g" \
    -e "s|@EXPLAIN@|$(sed_escape "$rundir/bin/explain")|g" \
    -e "s|@SLOT_KEY@|$slot_key|g" \
    -e "s|@SLOTS@|$slots|g" \
    -e "s|@QUEUE@|$queue|g" \
    -e "s|@CPU_MS@|$cpu_ms|g" \
    -e "s|@MEMORY_MIB@|$memory_mib|g" \
    -e "s|@USER@|$user|g" \
    -e "s|@GROUP@|$group|g" \
    -e "s|@LIGHTTPD@|$(command -v lighttpd)|g" \
    -e "s|@IPCRM@|$(command -v ipcrm)|g" \
    -e "s|@MEMORY_MAX@|$(((slots * 64 + (slots + queue) + 256)))M|g" \
    -e "s|@TASKS_MAX@|$((slots + queue + 64))|g" \
    "$1" >"$2.tmp"
  mv "$2.tmp" "$2"
}
fill "$root/web/lighttpd.conf.in" "$conf"
awk -v text="$privileges" '$0 == "@PRIVILEGES@" { print text; next } { print }' "$conf" >"$conf.tmp"
mv "$conf.tmp" "$conf"
fill "$root/web/quern.service.in" "$rundir/quern.service"
chmod 0644 "$conf" "$rundir/quern.service"
lighttpd -tt -f "$conf" >&2

# A semaphore set left by an earlier server on this port holds its counts.
ipcrm -S "$slot_key" 2>/dev/null || true

url="http://127.0.0.1:$port"
cat <<MSG
quern is served at $url/  (playground page)
compile a file with:
  curl --data-binary @f.c -H 'Content-Type: text/plain; charset=UTF-8' $url/compile
server user: $user; $slots compiles at once, $queue more may wait
run directory: $rundir  (logs in log/, systemd unit quern.service)
MSG

# lighttpd runs as a child so that the semaphore set goes with it; a signal
# to this script is passed on. Its messages go to the error log.
errorlog="$rundir/log/error.log"
lighttpd -D -f "$conf" 2>>"$errorlog" &
server=$!
stopped=""
trap 'stopped=1; kill -TERM "$server" 2>/dev/null || true' TERM INT HUP
status=0
while kill -0 "$server" 2>/dev/null; do
  wait "$server" || status=$?
done
ipcrm -S "$slot_key" 2>/dev/null || true
if [[ -z "$stopped" ]] && ((status != 0)); then
  echo "serve.sh: lighttpd ended with status $status; the end of $errorlog:" >&2
  tail -n 5 "$errorlog" >&2
fi
exit "$status"
