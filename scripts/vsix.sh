#!/usr/bin/env bash
# Packages the VS Code extension (editors/vscode) as a .vsix, from the
# versions locked in its package-lock.json, so that a clean clone gives the
# same package.
#
# Usage: scripts/vsix.sh [OUT]   (default: <root>/build/quern.vsix)
# Installs node and npm from Debian when they are missing; prints the path of
# the package last.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/build/quern.vsix}"
mkdir -p "$(dirname "$out")"
out="$(cd "$(dirname "$out")" && pwd)/$(basename "$out")"

# shellcheck source=scripts/packages.sh
source "$root/scripts/packages.sh"
need_node "$root/editors/vscode"
cd "$root/editors/vscode"
npm ci --no-audit --no-fund >&2
# No repository or licence file of the extension's own: the package says so
# rather than asking.
npx --no-install vsce package --allow-missing-repository --skip-license --out "$out" >&2
echo "$out"
