# Shared by the scripts: package installation and the build.
# shellcheck shell=bash

MKP_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MKP_JOBS="${MKP_JOBS:-$(nproc)}"

# Packages the build, the tests, the demonstration and the Debian package need.
MKP_PACKAGES=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
              libbenchmark-dev nlohmann-json3-dev libpcre2-dev socat ser2net qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-wayland xvfb xauth
              desktop-file-utils tshark python3-dev pybind11-dev python3-pytest)

# Installs, quietly, those of the given packages that are missing.
mkp_ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  # tshark's package asks whether non-root users may capture; the answer is
  # given beforehand so that installing it never stops to ask.
  if printf '%s\n' "${missing[@]}" | grep -qx tshark; then
    echo "wireshark-common wireshark-common/install-setuid boolean false" |
      "${sudo[@]}" debconf-set-selections
  fi
  "${sudo[@]}" apt-get update -qq >/dev/null
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# mkp_build DIR [cmake options...] [-- build options...]: configures (once)
# and builds DIR (what the build options name, or everything).
mkp_build() {
  local dir="$1"; shift
  local configure=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do configure+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  cmake -S "$MKP_ROOT" -B "$MKP_ROOT/$dir" -G Ninja "${configure[@]}" >/dev/null
  cmake --build "$MKP_ROOT/$dir" -j "$MKP_JOBS" "$@"
}
