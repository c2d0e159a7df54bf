#!/usr/bin/env bash
# Builds KestManager (release) and starts it. Without hardware configured it runs against the built-in
# simulated installation (kest-sim). Extra arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
source "$ROOT/scripts/deps.sh"
kest_install_packages "${KEST_BUILD_PACKAGES[@]}"

BUILD=${BUILD_DIR:-$ROOT/build-release}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKEST_TESTS=OFF -DKEST_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"${JOBS:-2}"

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
  echo "No display found. Run it under a virtual X server:"
  echo "  xvfb-run -a $BUILD/src/app/kestmanager --demo"
  exit 1
fi
exec "$BUILD/src/app/kestmanager" --demo "$@"
