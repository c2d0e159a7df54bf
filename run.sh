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

if [[ -x $BUILD/src/app/kestmanager ]]; then
  if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    echo "No display found. Run it under a virtual X server:"
    echo "  xvfb-run -a $BUILD/src/app/kestmanager --demo"
    exit 1
  fi
  exec "$BUILD/src/app/kestmanager" --demo "$@"
fi

# The main window is not built yet: show what there is, the command-line companion against the simulator.
if [[ -x $BUILD/sim/kest-sim && -x $BUILD/tools/kestctl ]]; then
  tmp=$(mktemp -d)
  "$BUILD/sim/kest-sim" --installation "$tmp/installation" --device "$tmp/device" --device-type QX4 &
  sim=$!
  trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; rm -rf "$tmp"' EXIT
  for _ in $(seq 50); do [[ -e $tmp/installation ]] && break; sleep 0.1; done
  "$BUILD/tools/kestctl" --port "$tmp/installation" "${@:-status}"
  exit $?
fi
echo "Built: $(cd "$BUILD" && find . -maxdepth 3 -type f -perm -u+x -name 'kest*' | sort | tr '\n' ' ')"
