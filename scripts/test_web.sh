#!/usr/bin/env bash
# Web tests of quern: HTTP integration tests against lighttpd running the cgi,
# the page's machine against the library's (quern --run), quern.mjs against
# quern --explain, the page's hints and help texts against the compiler's
# findings and listings, then the playground in headless Chromium as lighttpd
# serves it and as a plain static file server serves the site and a course's
# site (online and offline), then the service under load and at its limits
# (servers of its own, each started with the settings its test needs, and the
# systemd unit checked by systemd-analyze). Installs what the tests need
# that is missing (packages_test, Node.js, playwright-core and axe-core from
# tests/web's lock file), builds the cgi, quern and print_shape in
# ${BUILD_DIR:-<repo>/build} if they are not there, the static site
# (scripts/site.sh) into $BUILD_DIR/site unless QUERN_SITE names one built
# already, and the example course's site into $BUILD_DIR/course-site, starts
# one server on a free loopback port for the first suites, serving that site,
# and always stops it.
#
# Ends with the line "N passed, M failed"; exits non-zero on any failure.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BUILD_DIR="${BUILD_DIR:-$root/build}"
export PATH="$PATH:/usr/sbin:/sbin"
export DEBIAN_FRONTEND=noninteractive
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
web_tests="$root/tests/web"

die() {
  echo "test_web.sh: $*" >&2
  echo "0 passed, 1 failed"
  exit 1
}

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"

# --- packages ---------------------------------------------------------------
ensure_packages "${packages_test[@]}" || die "installing the test packages failed"
need_node "$web_tests" || die "no Node.js for the tests"
# The test tools (playwright-core, axe-core) at the versions of the lock file.
off="$(cd "$web_tests" && node -e '
  const lock = require("./package-lock.json").packages;
  const have = (name) => { try { return require(`./node_modules/${name}/package.json`).version; } catch { return null; } };
  const off = Object.keys(lock[""].devDependencies).filter((name) => have(name) !== lock[`node_modules/${name}`].version);
  console.log(off.join(" "));
')" || die "cannot read tests/web/package-lock.json"
if [[ -n "$off" ]]; then
  echo "test_web.sh: installing $off from tests/web/package-lock.json"
  (cd "$web_tests" && npm ci --no-audit --no-fund) || die "npm ci failed"
fi

# --- the programs and the static site -------------------------------------------
if [[ ! -x "$BUILD_DIR/cgi" || ! -x "$BUILD_DIR/quern" || ! -x "$BUILD_DIR/print_shape" ]]; then
  echo "test_web.sh: building the cgi, quern and print_shape in $BUILD_DIR"
  ensure_configured "$BUILD_DIR" || die "cmake configure failed"
  cmake --build "$BUILD_DIR" --target cgi quern_cli print_shape -j2 || die "building the programs failed"
fi
mkdir -p "$BUILD_DIR/web"
if [[ -z "${QUERN_SITE:-}" ]]; then
  export QUERN_SITE="$BUILD_DIR/site"
  bash "$root/scripts/site.sh" "$QUERN_SITE" || die "building the static site failed"
fi
[[ -f "$QUERN_SITE/index.html" ]] || die "no site in $QUERN_SITE"
QUERN_SITE="$(cd "$QUERN_SITE" && pwd)"
export QUERN_COURSE="$root/docs/course"
export QUERN_COURSE_SITE="$BUILD_DIR/course-site"
bash "$root/scripts/site.sh" "$QUERN_COURSE_SITE" --course "$QUERN_COURSE" --from "$QUERN_SITE" ||
  die "building the course site failed"

# --- the server -------------------------------------------------------------
server_pid=""
stop_server() {
  [[ -z "$server_pid" ]] || stop_group "$server_pid"
  server_pid=""
}
trap stop_server EXIT
trap 'exit 130' INT TERM

free_port() {
  node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); });'
}

server_log="$BUILD_DIR/web/server.log"
port=""
for attempt in 1 2 3; do
  port="$(free_port)" || die "no free port"
  # Its own process group, so that stopping it also stops a build it runs.
  SITE_DIR="$QUERN_SITE" setsid bash "$root/scripts/serve.sh" "$port" >"$server_log" 2>&1 &
  server_pid=$!
  ready=""
  for _ in $(seq 3000); do # up to 300 s: serve.sh may rebuild the cgi
    if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      ready=1
      break
    fi
    sleep 0.1
  done
  [[ -n "$ready" ]] && break
  echo "test_web.sh: the server did not start on port $port (attempt $attempt):" >&2
  cat "$server_log" >&2
  stop_server
done
[[ -n "$server_pid" ]] || die "could not start lighttpd"
export QUERN_URL="http://127.0.0.1:$port"
echo "test_web.sh: lighttpd serving $QUERN_URL (log: $server_log)"

# --- the tests --------------------------------------------------------------
passed=0
failed=0
# QUERN_WEB_SUITES="browser stages" runs only the suites whose names it lists
# (while working on one part of the page); unset, every suite runs. A suite
# prints its report when it ends, so that suites run side by side do not mix
# their lines; its counts go to a file, read by `tally`.
run_suite() {
  local file="$1" name
  name="$(basename "$1" .mjs)"
  local tap="$BUILD_DIR/web/$name.tap" log="$BUILD_DIR/web/$name.log"
  rm -f "$tap" "$BUILD_DIR/web/$name.count"
  if [[ -n "${QUERN_WEB_SUITES:-}" && " $QUERN_WEB_SUITES " != *" ${name%.test} "* ]]; then
    return 0
  fi
  (cd "$web_tests" && node --test \
    --test-reporter=spec --test-reporter-destination=stdout \
    --test-reporter=tap --test-reporter-destination="$tap" "$file") >"$log" 2>&1
  local rc=$?
  echo "== $file"
  cat "$log"
  local p f c
  count() { grep -E "^# $1 [0-9]+\$" "$tap" 2>/dev/null | tail -1 | awk '{print $3}'; }
  p="$(count pass)"
  f="$(count fail)"
  c="$(count cancelled)"
  p="${p:-0}"
  f=$((${f:-0} + ${c:-0}))
  # A runner that failed without counting a failure (a crash, a hook that
  # threw) still counts as one.
  if ((rc != 0 && f == 0)); then f=1; fi
  echo "$p $f" >"$BUILD_DIR/web/$name.count"
}
# Suites one after another.
lane() { for file in "$@"; do run_suite "$file"; done; }
tally() {
  local file p f
  for file in "$@"; do
    read -r p f <"$BUILD_DIR/web/$(basename "$file" .mjs).count" 2>/dev/null || continue
    passed=$((passed + p))
    failed=$((failed + f))
  done
}

# Two lanes side by side while the server runs: the browser suites spend
# much of their time waiting on the page, the others on the compiler; the
# lanes take about as long. The static sites need no server.
first=(quern_mjs.test.mjs exercise.test.mjs site.test.mjs course.test.mjs)
second=(integration.test.mjs machine.test.mjs layers.test.mjs help.test.mjs browser.test.mjs panel.test.mjs
  stages.test.mjs page.test.mjs)
lane "${first[@]}" &
lane_pid=$!
lane "${second[@]}"
wait "$lane_pid"
tally "${first[@]}" "${second[@]}"
stop_server
# Then the service under load and at its limits, alone, as its bounds are
# about the machine it has.
lane service.test.mjs
tally service.test.mjs
echo "screenshots: $BUILD_DIR/web/playground-{error,linked,machine}.png $BUILD_DIR/web/panel-{help,breakpoint,phone}.png"

echo "$passed passed, $failed failed"
((failed == 0))
