# Sourced by the scripts that install what they need.

# Runs a command as root: directly when this is root, else through sudo.
as_root() {
  if [[ $(id -u) -eq 0 ]]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    echo "$(basename "$0"): need root to run: $*" >&2
    return 1
  fi
}

# Installs the Debian packages given as arguments that are missing (as root;
# otherwise says which and stops).
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]} == 0)) && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "$(basename "$0"): missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}
