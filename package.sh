#!/usr/bin/env bash
# Builds the Debian packages (kestmanager, kest-sim) into out/ and checks them with lintian; then proves
# they install on a clean machine: a minimal Debian 12 root made with debootstrap from the mirror this
# machine uses, the packages installed there by apt-get (dependencies from the archive alone), the
# programs started in it (kestmanager under xvfb-run, its window saved as out/kestmanager-installed.png),
# and the packages removed again with nothing of them left.
#
#   ./package.sh                the whole proof (as root: debootstrap and chroot need it)
#   ./package.sh --build-only   the packages and lintian only
#
# One line per step; the first failure prints the end of its log and exits non-zero.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
OUT=$ROOT/out
MODE=full
case "${1:-}" in
  "") ;;
  --build-only) MODE=build ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac

source "$ROOT/scripts/deps.sh"
kest_install_packages "${KEST_BUILD_PACKAGES[@]}" "${KEST_PACKAGE_PACKAGES[@]}"

mkdir -p "$OUT"
WORK=$(mktemp -d /tmp/kest-package.XXXXXX)
LOG=$OUT/package.log
: >"$LOG"
TARGET=$WORK/root # the clean root, once made
cleanup() {
  # The clean root may still have the host's /dev and /proc bound into it: never delete through them.
  umount -R "$TARGET/dev" 2>/dev/null || true
  umount "$TARGET/proc" 2>/dev/null || true
  if mountpoint -q "$TARGET/dev" 2>/dev/null; then
    echo "left $WORK in place: $TARGET/dev is still mounted" >&2
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT

step() {
  local name=$1
  shift
  printf '%-58s' "$name"
  echo "=== $name" >>"$LOG"
  # In a subshell of its own with errexit on: called as an if's condition, a step would run with errexit
  # off and pass whenever its last command did.
  local rc=0
  set +e
  (
    set -e
    "$@"
  ) >>"$LOG" 2>&1
  rc=$?
  set -e
  if [[ $rc -eq 0 ]]; then
    echo ok
  else
    echo FAILED
    tail -n 60 "$LOG"
    echo "(whole log: $LOG)"
    exit 1
  fi
}

VERSION=$(dpkg-parsechangelog -l "$ROOT/debian/changelog" -S Version)
PROJECT_VERSION=$(sed -n 's/^project(KestManager VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")

same_version() {
  # The package is the program's own version: a release bumps both, or neither.
  echo "debian/changelog: $VERSION, CMakeLists.txt: $PROJECT_VERSION"
  [[ ${VERSION%%-*} == "$PROJECT_VERSION" ]]
}

# A copy of the sources without build trees or outputs, so that a build starts clean and leaves the
# working tree as it was; dpkg-buildpackage writes its packages beside the copy.
copy_sources() {
  mkdir -p "$1"
  tar -C "$ROOT" --exclude='./.git' --exclude='./build*' --exclude='./out' --exclude='./obj-*' -cf - . |
    tar -C "$1" -xf -
}

build_packages() {
  local src=$WORK/src/kestmanager-$VERSION
  copy_sources "$src"
  (cd "$src" && DEB_BUILD_OPTIONS="parallel=${JOBS:-2}" dpkg-buildpackage -us -uc -b)
  rm -f "$OUT"/*.deb "$OUT"/*.changes "$OUT"/*.buildinfo
  mv "$WORK"/src/*.deb "$WORK"/src/*.changes "$WORK"/src/*.buildinfo "$OUT"/
  ls -l "$OUT"/*.deb
}

run_lintian() {
  # Errors and warnings fail; what is overridden says why in debian/*.lintian-overrides.
  lintian --fail-on error,warning --display-info --allow-root "$OUT"/kestmanager_"$VERSION"_*.changes
}

check_metadata() {
  local x=$WORK/extracted
  mkdir -p "$x"
  dpkg-deb -x "$OUT"/kestmanager_"$VERSION"_*.deb "$x"
  local desktop metainfo
  desktop=$(find "$x/usr/share/applications" -name '*.desktop')
  metainfo=$(find "$x/usr/share/metainfo" -name '*.xml')
  [[ -n $desktop && -n $metainfo ]]
  local out
  out=$(desktop-file-validate "$desktop" 2>&1)
  echo "$out"
  [[ -z $out ]]
  appstreamcli validate --no-net --explain "$metainfo"
  find "$x/usr/share/icons" -type f | sort
}

# The mirror and suites this machine's apt uses (deb822 or one-line form); Debian's own by default.
host_mirror() {
  local m
  m=$(grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' | grep -v security | head -n 1)
  [[ -n $m ]] || m=$(grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
    awk '{print $2}' | grep -v security | head -n 1)
  echo "${m:-http://deb.debian.org/debian}"
}

make_root() {
  local mirror
  mirror=$(host_mirror)
  echo "mirror: $mirror"
  debootstrap --variant=minbase bookworm "$TARGET" "$mirror"
  # The same suites as this machine (updates, security), so that the libraries the packages were built
  # against are there in the versions they need.
  rm -f "$TARGET"/etc/apt/sources.list
  mkdir -p "$TARGET"/etc/apt/sources.list.d
  cp /etc/apt/sources.list.d/*.sources "$TARGET"/etc/apt/sources.list.d/ 2>/dev/null || true
  [[ -f /etc/apt/sources.list ]] && cp /etc/apt/sources.list "$TARGET"/etc/apt/sources.list
  cp /usr/share/keyrings/debian-archive-keyring.gpg "$TARGET"/usr/share/keyrings/ 2>/dev/null || true
  mkdir -p "$TARGET"/tmp/debs
  cp "$OUT"/kestmanager_"$VERSION"_*.deb "$OUT"/kest-sim_"$VERSION"_*.deb "$TARGET"/tmp/debs/
}

# A command inside a root (the clean one unless ROOTFS says another): its own mount namespace, so that
# /proc and /dev (the pseudo-terminals of kest-sim, the X server's shared memory) vanish with it.
in_root() {
  unshare --mount --propagation private -- /bin/bash -c '
    set -e
    mount -t proc proc "$1/proc"
    mount --rbind /dev "$1/dev"
    exec chroot "$1" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
      DEBIAN_FRONTEND=noninteractive /bin/bash -euo pipefail -c "$2"' in_root "${ROOTFS:-$TARGET}" "$1"
}

# The package built again in a copy of the clean root holding only what debian/control's Build-Depends
# name: a dependency the build needs but does not declare fails here, not on a builder's machine. Both
# builds must give packages with the same files.
build_in_root() {
  local builder=$WORK/builder
  cp -a "$TARGET" "$builder"
  rm -rf "$builder"/tmp/debs
  copy_sources "$builder/build/kestmanager-$VERSION"
  local deps
  deps=$(sed -n '/^Build-Depends:/,/^[A-Za-z-]*:/{/^Build-Depends:/{s/^Build-Depends://;p;d};/^[A-Za-z-]*:/d;p}' \
    "$ROOT/debian/control" | tr -d '\n' | sed 's/  */ /g')
  echo "Build-Depends:$deps"
  ROOTFS=$builder in_root "apt-get update -qq && apt-get satisfy -y -qq --no-install-recommends build-essential '$deps' >/dev/null
    cd /build/kestmanager-$VERSION && DEB_BUILD_OPTIONS=parallel=${JOBS:-2} dpkg-buildpackage -us -uc -b >/build/log 2>&1 ||
      { grep -m 20 -E 'CMake Error|Could NOT|error:|unmet' /build/log; tail -n 20 /build/log; exit 1; }"
  local deb
  for deb in kestmanager kest-sim; do
    diff <(dpkg-deb -c "$OUT/${deb}_${VERSION}"_*.deb | awk '{print $6}' | sort) \
      <(dpkg-deb -c "$builder"/build/"${deb}_${VERSION}"_*.deb | awk '{print $6}' | sort)
  done
  rm -rf "$builder"
}

install_tools() {
  # What the checks themselves use, installed before the packages so that their removal is judged alone.
  in_root 'apt-get update -qq && apt-get install -y -qq --no-install-recommends man-db xvfb xauth >/dev/null'
}

install_packages() {
  # Only Depends are taken (recommended LibreOffice would add a gigabyte to prove nothing more).
  in_root 'apt-get install -y --no-install-recommends /tmp/debs/*.deb && dpkg -L kestmanager kest-sim > /tmp/files'
}

run_programs() {
  # Each whole output read (sed, not head): a program cut off by a closed pipe would look failed.
  in_root 'kestctl --help | sed -n 1p && kest-sim --help | sed -n 1p && kestmanager --help | sed -n 1p &&
    man -w kestctl && man -w kest-sim && man -w kestmanager'
}

screenshot() {
  in_root '
    touch /tmp/before-run
    mkdir -p /tmp/fb
    xvfb-run -a -s "-screen 0 1680x1050x24 -fbdir /tmp/fb" /bin/bash -ec "
      kestmanager --demo & pid=\$!
      sleep 12
      kill -0 \$pid
      cp /tmp/fb/Xvfb_screen0 /tmp/screen.xwd
      kill -TERM \$pid
      wait \$pid || true"
    # The program keeps what it writes under the home folder; nothing of it under /usr.
    written=$(find /usr -newer /tmp/before-run -not -type d | head)
    echo "written under /usr: ${written:-nothing}"
    [ -z "$written" ]'
  /usr/bin/python3 "$ROOT/scripts/xwd2png.py" "$TARGET/tmp/screen.xwd" "$OUT/kestmanager-installed.png" |
    tee "$WORK/screen.txt"
  # A window drawn has many colours; an empty X screen one.
  local colours
  colours=$(sed -n 's/.*, \([0-9]*\) colours/\1/p' "$WORK/screen.txt")
  [[ ${colours:-0} -gt 8 ]]
}

remove_packages() {
  in_root '
    apt-get purge -y kestmanager kest-sim
    left=""
    while read -r f; do
      [ -e "$f" ] && [ ! -d "$f" ] && left="$left $f"
    done < /tmp/files
    [ ! -e /usr/share/kestmanager ] || left="$left /usr/share/kestmanager"
    if dpkg-query -W -f="\${db:Status-Abbrev}\n" kestmanager kest-sim 2>/dev/null | grep -v "^un" | grep -q .; then
      left="$left (still known to dpkg)"
    fi
    echo "left behind:${left:- nothing}"
    [ -z "$left" ]'
}

step "version of debian/changelog is the program's" same_version
step "build packages (dpkg-buildpackage -b)" build_packages
step "lintian: no errors or warnings" run_lintian
step "desktop entry and AppStream metainfo valid" check_metadata
if [[ $MODE == build ]]; then
  echo "packages in $OUT"
  exit 0
fi
[[ $(id -u) -eq 0 ]] || { echo "the clean-root proof needs root (debootstrap, chroot)" >&2; exit 1; }
step "clean Debian 12 root (debootstrap minbase)" make_root
step "Build-Depends alone build it (in a copy of the root)" build_in_root
step "tools for the checks (man-db, xvfb) in the root" install_tools
step "apt-get install ./*.deb in the clean root" install_packages
step "kestctl --help, kest-sim --help, man -w in the root" run_programs
step "kestmanager --demo under xvfb-run, screenshot" screenshot
step "purge: nothing of the packages left" remove_packages
echo "packages in $OUT; screenshot $OUT/kestmanager-installed.png"
