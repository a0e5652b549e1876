#!/usr/bin/env bash
# Builds the playground page: installs node and npm from Debian when they are
# missing (and checks that node is as new as package.json's engines asks),
# the packages of web/package-lock.json when they are not installed as
# locked, and bundles the page into web/public/dist/ (unless --packages).
set -euo pipefail

web="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export DEBIAN_FRONTEND=noninteractive

# shellcheck source=../scripts/packages.sh
source "$web/../scripts/packages.sh"

need_node "$web"

# npm ci again only when the lock file changed since the last install.
stamp="$web/node_modules/.quern-lock"
lock="$(sha256sum "$web/package-lock.json" | cut -d' ' -f1)"
if [[ ! -f "$stamp" || "$(cat "$stamp")" != "$lock" ]]; then
  echo "web/build.sh: installing the page's packages" >&2
  (cd "$web" && npm ci --no-audit --no-fund >&2)
  echo "$lock" >"$stamp"
fi

# --packages: only the packages (what builds a course's site from a page
# built already needs).
[[ "${1:-}" == --packages ]] || node "$web/build.mjs"
