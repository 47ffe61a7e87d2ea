# Shared by scripts/test and scripts/demo: make sure the Debian packages the
# build needs are present.  As root, missing packages are installed; otherwise
# the exact install line is printed and the script stops.
HOVANTRA_PACKAGES="g++ cmake make pkg-config libgtest-dev libusb-dev libmd-dev python3 curl procps file libmosquitto-dev mosquitto mosquitto-clients"
# What only the tests need beside: the package checker, certificates for
# the TLS broker, and the layout check.
HOVANTRA_TEST_PACKAGES="lintian openssl clang-format"

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

# Configures and builds into the given directory with extra CMake options;
# HOVANTRA_TARGETS, when set, names the only targets to build.
build_tree() {
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  if [ -n "${HOVANTRA_TARGETS:-}" ]; then
    cmake --build "$dir" -j "$(nproc)" --target $HOVANTRA_TARGETS
  else
    cmake --build "$dir" -j "$(nproc)"
  fi
}
