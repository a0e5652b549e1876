#!/usr/bin/env bash
# Runs every test of quern, from a fresh Debian 12 machine:
#   1. installs what the tests need that is missing (packages_test, Node.js);
#   2. checks the relative links of README.md and docs/*.md, and that every
#      npm package locked runs on the oldest Node.js its project declares;
#   3. a release build with -Werror, and its test suite through ctest;
#   4. the commands that README.md and docs/ show, against that build;
#   5. one clang build with AddressSanitizer, UndefinedBehaviorSanitizer and
#      leak checking that serves both the test suite and a bounded fuzzing
#      pass over request handling, the compiler, compiled programs run on the
#      machine model, and the language server's messages;
#   6. the README's serve command from a clean copy, with the test tools
#      hidden, also after a configure cut short (scripts/test_serve.sh);
#   7. the web service through lighttpd, and the playground in Chromium, on
#      the site that step 6 built;
#   8. the VS Code extension packaged as a .vsix (mostly npm: it runs beside
#      the builds).
# Prints each stage's time, and ends with "N passed, M failed" counting the
# stages; exits non-zero on any failure.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export DEBIAN_FRONTEND=noninteractive
jobs="${JOBS:-2}"
started=$SECONDS

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
if ! ensure_packages "${packages_test[@]}" || ! need_node "$root/tests/web"; then
  echo "test.sh: cannot install what the tests need"
  echo "0 passed, 1 failed"
  exit 1
fi

# Every native build of the test command treats warnings as errors, the
# served one too; those with the same flags share their objects through a
# cache of their own (the serve stage's library is the release build's).
export CXXFLAGS="-Werror${CXXFLAGS:+ $CXXFLAGS}"
export CCACHE_DIR="$root/build-ccache" CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

passed=0
failed=0
failures=()
times=()
stage() {
  local name="$1" start=$SECONDS
  shift
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name FAILED"
  fi
  times+=("$(printf '%4d s  %s' $((SECONDS - start)) "$name")")
}

# Configured every time, so that a folder configured before by other hands
# still builds as the tests need.
build_and_test() {
  local dir="$1"
  shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DQUERN_TESTS=ON \
    -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DQUERN_WERROR=OFF "$@" >/dev/null &&
    cmake --build "$dir" -j "$jobs" &&
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

# The extension's packages come from the registry while the library builds.
vsix_log="$root/build/vsix.log"
mkdir -p "$root/build"
bash "$root/scripts/vsix.sh" "$root/build/quern.vsix" >"$vsix_log" 2>&1 &
vsix=$!

# Every npm package locked that runs on this machine's node allows the oldest
# node that its project's package.json declares (engines.node): a newer node
# here would not notice a lock that needs one. An editor extension's own
# dependencies run in the editor, so only its tools (dev) are held to it.
locks_allow_declared_node() {
  local npm_dir
  npm_dir="$(dirname "$(readlink -f "$(command -v npm)")")/.."
  # semver comes with npm, wherever npm is.
  (cd "$root" && node -e '
    const semver = require(require.resolve("semver", { paths: [process.argv[1]] }));
    let refused = 0;
    for (const dir of process.argv.slice(2)) {
      const project = require(`./${dir}/package.json`);
      const declared = project.engines?.node;
      if (!declared) {
        console.log(`${dir}: package.json declares no engines.node`);
        refused++;
        continue;
      }
      const oldest = semver.minVersion(declared).version;
      for (const [where, p] of Object.entries(require(`./${dir}/package-lock.json`).packages)) {
        const needs = p.engines?.node;
        if (!where || typeof needs !== "string" || (project.engines.vscode && !p.dev)) continue;
        if (!semver.satisfies(oldest, needs)) {
          console.log(`${dir}: ${where.replace(/.*node_modules\//, "")}@${p.version} needs node ${needs}, not ${oldest} (${declared})`);
          refused++;
        }
      }
    }
    process.exit(refused ? 1 : 0);
  ' "$npm_dir" web tests/web editors/vscode)
}

stage "documentation links" python3 "$root/scripts/check_links.py"
stage "npm locks run on the declared node" locks_allow_declared_node
stage "release build and unit tests" \
  build_and_test "$root/build" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
stage "the guides' commands" python3 "$root/scripts/test_docs.py" "$root/build"

# Sanitizer reports end the test that caused them; leaks are reported at exit.
sanitized() {
  ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}" "$@"
}
# At -O1, the level sanitizers are usually run at: the library compiles in
# a fifth less time than at -O3.
stage "sanitizer build and unit tests" sanitized build_and_test "$root/build-asan" \
  -DQUERN_SANITIZE=ON -DQUERN_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG"
stage "fuzzing" env BUILD_DIR="$root/build-asan" FUZZ_SECONDS="${FUZZ_SECONDS:-20}" \
  FUZZ_JOBS="$jobs" bash "$root/scripts/fuzz.sh"
stage "serving from a clean clone" env WORK_DIR="$root/build-serve" \
  CMAKE_CXX_COMPILER_LAUNCHER=ccache bash "$root/scripts/test_serve.sh"
stage "web service and browser" env BUILD_DIR="$root/build" \
  QUERN_SITE="$root/build-serve/clone/build/site" bash "$root/scripts/test_web.sh"

vsix_done() {
  wait "$vsix"
  local status=$?
  cat "$vsix_log"
  return "$status"
}
stage "VS Code extension package" vsix_done

echo
printf '%s\n' "${times[@]}"
echo "$((SECONDS - started)) s in all"
for f in "${failures[@]}"; do echo "failed: $f"; done
echo "$passed passed, $failed failed"
((failed == 0))
