#!/usr/bin/env bash
# Builds KestManager with AddressSanitizer and UndefinedBehaviorSanitizer, runs every test with
# ctest, then runs each fuzz target for a few seconds, then builds the Debian packages and proves them
# (./package.sh). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)

source "$ROOT/scripts/deps.sh"
kest_install_packages "${KEST_BUILD_PACKAGES[@]}" "${KEST_TEST_PACKAGES[@]}"
# Before the long build: every peer a test starts must really start.
kest_check_peers

# One style for every source, kept by a check rather than by memory: a file that differs from
# .clang-format stops the run here, with the diff's first lines, before the long build.
mapfile -t KEST_SOURCES < <(find src sim tools tests bench \( -name '*.cpp' -o -name '*.h' \) -not -path 'tests/fuzz/corpus/*' | sort)
if ! clang-format --dry-run -Werror "${KEST_SOURCES[@]}" 2>"$ROOT/.format-check.log"; then
  grep -m 20 'error:' "$ROOT/.format-check.log" || true
  echo "Formatting differs from .clang-format: run clang-format -i on the files above." >&2
  rm -f "$ROOT/.format-check.log"
  exit 1
fi
rm -f "$ROOT/.format-check.log"

JOBS=${JOBS:-2}
BUILD=${BUILD_DIR:-$ROOT/build-asan}
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKEST_SANITIZE=ON >/dev/null
cmake --build "$BUILD" -j"$JOBS"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp:print_suppressions=0}
export QT_QPA_PLATFORM=offscreen
status=0
(cd "$BUILD" && ctest -j"$JOBS" --output-on-failure) || status=1

# Fuzz targets: clang with libFuzzer, a few seconds each.
FUZZ=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-5}
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$FUZZ" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
   -DKEST_FUZZ=ON -DKEST_TESTS=OFF -DKEST_BENCH=OFF >/dev/null
cmake --build "$FUZZ" -j"$JOBS" --target fuzzers
fpass=0; ffail=0
for f in "$FUZZ"/tests/fuzz/fuzz_*; do
  [[ -f $f && -x $f ]] || continue
  name=$(basename "$f")
  corpus=$(mktemp -d)
  [[ -d $ROOT/tests/fuzz/corpus/$name ]] && cp -r "$ROOT/tests/fuzz/corpus/$name/." "$corpus/"
  if "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 "$corpus" >"$FUZZ/$name.log" 2>&1; then
    echo "fuzz $name: ok ($(grep -o 'Done [0-9]* runs' "$FUZZ/$name.log" | tail -1))"
    fpass=$((fpass+1))
  else
    echo "fuzz $name: FAILED"; tail -40 "$FUZZ/$name.log"; ffail=$((ffail+1)); status=1
  fi
  rm -rf "$corpus"
done
echo "fuzz: $fpass passed, $ffail failed"

# The Debian packages: built, checked by lintian, installed into a clean Debian 12 root, started there and
# removed again, about 11 minutes (KEST_PACKAGE=build: built and checked only; KEST_PACKAGE=0: skipped).
case "${KEST_PACKAGE:-full}" in
  0) echo "package: skipped (KEST_PACKAGE=0)" ;;
  build) "$ROOT/package.sh" --build-only || status=1 ;;
  *) "$ROOT/package.sh" || status=1 ;;
esac
exit $status
