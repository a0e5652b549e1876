#!/usr/bin/env bash
# Runs every test of quern, from a fresh Debian 12 machine:
#   1. installs the build tools and libraries that are missing;
#   2. checks the relative links of README.md and docs/*.md;
#   3. a release build with -Werror, and its test suite through ctest;
#   4. the same suite built with AddressSanitizer, UndefinedBehaviorSanitizer
#      and leak checking (clang);
#   5. a bounded fuzzing pass over request handling, the compiler, compiled
#      programs run on the machine model, and the language server's messages;
#   6. the web service through lighttpd, and the playground in Chromium;
#   7. the VS Code extension packaged as a .vsix.
# Ends with "N passed, M failed" counting the stages; exits non-zero on any failure.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export DEBIAN_FRONTEND=noninteractive
jobs="${JOBS:-2}"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"

# perl: the tests read quern --test's report with its prove; python3: its HTML page with
# html.parser; neovim: its own language client drives quern --lsp.
packages=(cmake g++ make libgtest-dev libicu-dev clang libclang-rt-14-dev nlohmann-json3-dev
  libcli11-dev graphviz perl python3 neovim)
ensure_packages "${packages[@]}" || { echo "test.sh: apt-get install failed"; echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
failures=()
stage() {
  local name="$1"
  shift
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name FAILED"
  fi
}

build_and_test() {
  local dir="$1"
  shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQUERN_WERROR=ON "$@" >/dev/null &&
    cmake --build "$dir" -j "$jobs" &&
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

stage "documentation links" python3 "$root/scripts/check_links.py"
stage "release build and unit tests" build_and_test "$root/build"
# Sanitizer reports end the test that caused them; leaks are reported at exit.
export ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
stage "sanitizer build and unit tests" build_and_test "$root/build-asan" \
  -DQUERN_SANITIZE=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
stage "fuzzing" env FUZZ_SECONDS="${FUZZ_SECONDS:-60}" bash "$root/scripts/fuzz.sh"
stage "web service and browser" env BUILD_DIR="$root/build" bash "$root/scripts/test_web.sh"
# The editor extension packages from its lock file (under a minute, mostly npm).
stage "VS Code extension package" bash "$root/scripts/vsix.sh" "$root/build/quern.vsix"

echo
for f in "${failures[@]}"; do echo "failed: $f"; done
echo "$passed passed, $failed failed"
((failed == 0))
