# packages.sh: sourced by the scripts; installs the Debian packages they need when missing.

# ensure_packages PACKAGE=PROBE...: PROBE is a command, or an absolute path to a file that
# the package provides. Missing packages are installed when running as root; otherwise the
# caller is told which to install, and the script stops.
ensure_packages() {
  local need=() item pkg probe
  for item in "$@"; do
    pkg=${item%%=*}
    probe=${item#*=}
    if [[ $probe == /* ]]; then
      [ -e "$probe" ] || need+=("$pkg")
    else
      command -v "$probe" >/dev/null || need+=("$pkg")
    fi
  done
  [ ${#need[@]} -eq 0 ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages (run as root to install): ${need[*]}" >&2
    exit 1
  fi
  echo "== installing: ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
}
