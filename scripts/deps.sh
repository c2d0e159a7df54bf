# Sourced by run.sh and test.sh: installs the Debian packages the build needs when they are missing.
# As root it runs apt-get; otherwise it prints the one apt-get line to run and stops.
kest_install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  if [[ $(id -u) -eq 0 ]]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Missing Debian packages. Run as root, then start again:"
    echo "  apt-get install -y --no-install-recommends ${missing[*]}"
    exit 1
  fi
}

# What the program needs to build and run.
KEST_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev
                     libjpeg62-turbo-dev libzip-dev libpugixml-dev libgtest-dev libgmock-dev libbenchmark-dev
                     qt6-charts-dev libqt6opengl6-dev)
# What the tests need besides: clang for the fuzz targets, independent Modbus peers, an X server.
KEST_TEST_PACKAGES=(clang libclang-rt-14-dev socat mbpoll python3-pymodbus xvfb xauth)
