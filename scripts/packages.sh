# shellcheck shell=bash
# Sourced by the scripts that install what they need: the one place that
# says how a Debian package is found and installed.

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
  for package in "$@"; do installed "$package" || missing+=("$package"); done
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
