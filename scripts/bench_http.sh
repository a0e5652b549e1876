#!/usr/bin/env bash
# Requests per second through lighttpd, as the service runs: a private
# lighttpd on 127.0.0.1 runs the cgi for POST /compile, one process per
# request, and ab sends the same body over and over. Two servers run side by
# side, one with the current cgi and one with the cgi of a baseline revision,
# and each case is measured on both in turns. Bodies: the typical request and
# the worst 65535-byte shape (the spilling chain). Every case must end with
# all requests complete, none failed and no non-2xx answer, and before the
# load each server's answer is compared with the cgi's own.
#
# Usage: scripts/bench_http.sh BASELINE
#   BASELINE               revision to compare against (scripts/bench.sh passes its own)
# Environment:
#   BUILD_DIR              build directory (default: <repo>/build-bench)
#   JOBS                   parallel build jobs (default: 2)
#   HTTP_TYPICAL_REQUESTS  requests per case for the typical body (default: 2000)
#   HTTP_WORST_REQUESTS    requests per case for the worst body (default: 300)
#   HTTP_CLIENTS           concurrent clients, a list (default: "2 64")
#   HTTP_TIME_LIMIT        seconds at most per case (default: 120)
# Writes the table to <build>/bench-results/http.txt (ab's own reports beside
# it, under http-ab/). Installs the Debian packages it needs when missing.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build-bench}"
jobs="${JOBS:-2}"
baseline="${1:?usage: scripts/bench_http.sh BASELINE (a revision to compare against)}"
typical_requests="${HTTP_TYPICAL_REQUESTS:-2000}"
worst_requests="${HTTP_WORST_REQUESTS:-300}"
clients_list="${HTTP_CLIENTS:-2 64}"
time_limit="${HTTP_TIME_LIMIT:-120}"
export PATH="$PATH:/usr/sbin:/sbin"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
ensure_packages "${packages_bench[@]}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUERN_BENCH=ON -DQUERN_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "$jobs" --target cgi proc_bench >/dev/null
build="$(cd "$build" && pwd)"
current_cgi="$build/cgi"
baseline_cgi="$("$root/bench/build_baseline.sh" "$baseline" "$build" "$jobs")"

results="$build/bench-results"
run="$build/bench-http"
rm -rf "$run" "$results/http-ab"
mkdir -p "$results/http-ab" "$run/tmp" "$run/www"

# Servers started here, stopped on any exit.
pids=()
stop_servers() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  pids=()
}
trap stop_servers EXIT
trap 'exit 130' INT TERM

# start_server NAME CGI: starts lighttpd on a free port and sets $port.
start_server() {
  local name="$1" cgi="$2" conf="$run/$1.conf" pid
  for _ in $(seq 1 20); do
    port=$((20000 + RANDOM % 30000))
    if [[ -n "$(ss -Htln "sport = :$port")" ]]; then continue; fi
    cat >"$conf" <<CONF
server.modules = ("mod_access", "mod_alias", "mod_cgi")
server.bind = "127.0.0.1"
server.port = $port
server.document-root = "$run/www"
server.upload-dirs = ("$run/tmp")
server.errorlog = "$run/$name.log"
server.stream-request-body = 0
server.max-request-size = 256
\$HTTP["url"] == "/compile" {
  alias.url = ("/compile" => "$cgi")
  cgi.assign = ("" => "")
  cgi.limits = ("read-timeout" => 20, "write-timeout" => 20)
  \$HTTP["request-method"] != "POST" {
    url.access-deny = ("")
  }
}
CONF
    lighttpd -tt -f "$conf" >/dev/null
    lighttpd -D -f "$conf" 2>>"$run/$name.log" &
    pid=$!
    pids+=("$pid")
    for _ in $(seq 1 50); do
      if ! kill -0 "$pid" 2>/dev/null; then break; fi
      if curl -s -o /dev/null "http://127.0.0.1:$port/"; then return 0; fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    unset 'pids[-1]'
  done
  echo "bench_http.sh: could not start lighttpd for $name (see $run/$name.log)" >&2
  exit 1
}

start_server current "$current_cgi"
current_port=$port
start_server baseline "$baseline_cgi"
baseline_port=$port

content_type='text/plain; charset=UTF-8'

# check_answer NAME PORT BODY: the server's answer must be the cgi's own.
check_answer() {
  local name="$1" port="$2" body="$3" cgi length status
  cgi="$([[ $name == current ]] && echo "$current_cgi" || echo "$baseline_cgi")"
  length="$(stat -c %s "$body")"
  CONTENT_TYPE="$content_type" CONTENT_LENGTH="$length" "$cgi" <"$body" |
    perl -0777 -pe 's/\A.*?\r?\n\r?\n//s' >"$run/want"
  status="$(curl -s -o "$run/got" -w '%{http_code}' -H "Content-Type: $content_type" \
    --data-binary "@$body" "http://127.0.0.1:$port/compile")"
  if [[ ! "$status" =~ ^2 || ! -s "$run/want" ]] || ! cmp -s "$run/want" "$run/got"; then
    echo "bench_http.sh: $name server: HTTP $status, answer for $(basename "$body")" \
      "differs from the cgi's" >&2
    exit 1
  fi
}

# field REPORT LABEL: the value after "LABEL:" in an ab report, or 0.
field() {
  awk -v label="$2:" 'index($0, label) == 1 { print $(split(label, parts, " ") + 1); found = 1; exit }
                      END { if (!found) print 0 }' "$1"
}
percentile() { awk -v p="$2%" '$1 == p { print $2; exit }' "$1"; }

table="$results/http.txt"
{
  echo "Requests per second through lighttpd ($(lighttpd -v 2>&1 | head -1 | cut -d' ' -f1)," \
    "mod_cgi, one cgi process per request), $(ab -V | sed -nE "1s/This is (ApacheBench), Version ([^ ]+).*/\1 \2/p"), no keep-alive"
  echo "baseline: $(git -C "$root" rev-parse --short "$baseline^{commit}");" \
    "current: $(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD -- src cgi || echo ' with local changes')"
  echo "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
  echo
  printf '%-16s %6s %7s %-9s %8s %6s %7s %9s %8s %6s %6s %8s\n' body bytes clients binary \
    requests failed non-2xx 'req/s' 'mean ms' 'p50 ms' 'p99 ms' 'vs base'
} >"$table"

turn=0
for body_name in typical spilling_chain; do
  body="$run/$body_name.body"
  "$build/bench/proc_bench" --print-body "$body_name" >"$body"
  bytes="$(stat -c %s "$body")"
  requests=$([[ $body_name == typical ]] && echo "$typical_requests" || echo "$worst_requests")
  check_answer current "$current_port" "$body"
  check_answer baseline "$baseline_port" "$body"
  for clients in $clients_list; do
    order=(baseline current)
    ((turn++ % 2 == 1)) && order=(current baseline)
    for name in "${order[@]}"; do
      port=$([[ $name == current ]] && echo "$current_port" || echo "$baseline_port")
      report="$results/http-ab/$body_name-c$clients-$name.txt"
      # -n after -t: ab stops at whichever limit it reaches first.
      if ! timeout $((time_limit + 30)) ab -q -t "$time_limit" -n "$requests" -c "$clients" \
        -s 30 -p "$body" -T "$content_type" "http://127.0.0.1:$port/compile" >"$report" 2>&1; then
        echo "bench_http.sh: ab failed for $body_name, $clients clients, $name:" >&2
        head -3 "$report" >&2
        exit 1
      fi
    done
    for name in baseline current; do
      report="$results/http-ab/$body_name-c$clients-$name.txt"
      complete="$(field "$report" 'Complete requests')"
      failed="$(field "$report" 'Failed requests')"
      non2xx="$(field "$report" 'Non-2xx responses')"
      rate="$(field "$report" 'Requests per second')"
      mean="$(field "$report" 'Time per request')"
      vs=""
      if [[ $name == current ]]; then
        vs="$(awk -v a="$rate" -v b="$base_rate" 'BEGIN { printf "%.2fx", a / b }')"
      else
        base_rate="$rate"
      fi
      printf '%-16s %6s %7s %-9s %8s %6s %7s %9s %8s %6s %6s %8s\n' "$body_name" "$bytes" \
        "$clients" "$name" "$complete" "$failed" "$non2xx" "$rate" "$mean" \
        "$(percentile "$report" 50)" "$(percentile "$report" 99)" "$vs" >>"$table"
      if [[ "$complete" != "$requests" || "$failed" != 0 || "$non2xx" != 0 ]]; then
        cat "$table" >&2
        echo "bench_http.sh: $body_name, $clients clients, $name: $complete of $requests" \
          "complete, $failed failed, $non2xx non-2xx (see $report)" >&2
        exit 1
      fi
    done
  done
done
stop_servers
{
  echo
  echo "ms: ab's time per request (mean over all, as one client sees it) and the 50th and 99th" \
    "percentile; vs base: the current cgi's req/s against the baseline's"
} >>"$table"
cat "$table"
