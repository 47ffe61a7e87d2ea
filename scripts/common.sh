# Shared by scripts/test and scripts/demo: make sure the Debian packages the
# build needs are present.  As root, missing packages are installed; otherwise
# the exact install line is printed and the script stops.
HOVANTRA_PACKAGES="g++ cmake make pkg-config libgtest-dev libusb-dev libssl-dev python3 curl procps libmosquitto-dev mosquitto mosquitto-clients openssl"

ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "missing packages; run as root:"
    echo "  apt-get install -y ${missing[*]}"
    exit 1
  fi
}

# Configures and builds into the given directory with extra CMake options.
build_tree() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
