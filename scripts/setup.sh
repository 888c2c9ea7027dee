# Sourced by ./run and ./test: makes sure the Debian packages that the build
# needs are installed. As root it installs what is missing with apt-get; as
# anyone else it prints the one command needed and stops.

LINEMINT_PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev libabsl-dev
  qt6-base-dev fonts-wqy-microhei
)

linemint_missing_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  printf '%s\n' "${missing[@]}"
}

# linemint_ensure_packages [extra packages...]
linemint_ensure_packages() {
  local missing
  mapfile -t missing < <(linemint_missing_packages "${LINEMINT_PACKAGES[@]}" "$@")
  [ "${#missing[@]}" -eq 0 ] && return 0
  [ -z "${missing[0]}" ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Linemint needs these Debian packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-get install -y -q "${missing[@]}" >/tmp/linemint-apt.log 2>&1; then
    apt-get update -q >>/tmp/linemint-apt.log 2>&1
    apt-get install -y -q "${missing[@]}" >>/tmp/linemint-apt.log 2>&1 || {
      echo "apt-get install failed; see /tmp/linemint-apt.log" >&2
      exit 1
    }
  fi
}
