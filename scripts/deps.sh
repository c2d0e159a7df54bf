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

# What the program needs to build and run (the Qt SQL driver plugins of the results journal are
# runtime pieces of their own: SQLite for the journal file, PostgreSQL for a lab's server; Qt's own
# Russian texts for its standard buttons and dialogs come with the translations package; libxml2 checks
# the upload files for the Federal information fund against their schema).
KEST_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev
                     libjpeg62-turbo-dev libzip-dev libpugixml-dev libxml2-dev libgtest-dev libgmock-dev libbenchmark-dev
                     libasound2-dev qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite libqt6sql6-psql
                     qt6-translations-l10n)
# What the tests need besides: clang and its libFuzzer runtime for the fuzz targets (llvm for the
# symbolizer that names the lines of a crash), independent Modbus peers with every module they
# import (python3-pymodbus only recommends the serial ones, and installs here skip recommendations),
# an X server with its authority tool for xvfb-run, and independent readers of the generated reports
# (python-docx, openpyxl, LibreOffice headless with a Times-compatible font, poppler for the pages,
# xmllint for the upload files to the Federal information fund),
# a PostgreSQL server that the journal's tests start in a folder of their own, and clang-format for the
# style check that runs before the build.
KEST_TEST_PACKAGES=(clang clang-format libclang-rt-14-dev llvm socat mbpoll
                    python3-pymodbus python3-serial python3-serial-asyncio xvfb xauth
                    python3-docx python3-openpyxl libreoffice-writer-nogui libreoffice-calc-nogui
                    fonts-liberation2 poppler-utils libxml2-utils postgresql)

# What making the Debian packages and proving them needs: the Debian build tools, lintian, the validators
# of the desktop entry and the AppStream metainfo, and debootstrap for the clean root they are installed in.
KEST_PACKAGE_PACKAGES=(dpkg-dev debhelper lintian desktop-file-utils appstream debootstrap)

# The peers the tests start, each tried once the way a test starts it. An installed package is not
# enough (a recommended module may be missing, a library may not load): the first that does not
# start stops the run with one line naming it and the packages it needs.
kest_check_peers() {
  local tmp out root
  tmp=$(mktemp -d)
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  # name | packages | command
  local checks=(
    "pymodbus (Debian's /usr/bin/python3)|python3-pymodbus python3-serial python3-serial-asyncio|/usr/bin/python3 -c 'import serial, serial_asyncio, pymodbus; from pymodbus.server import StartAsyncSerialServer; from pymodbus.framer.rtu_framer import ModbusRtuFramer; from pymodbus.utilities import computeCRC'"
    "socat|socat|socat -V"
    "mbpoll|mbpoll|mbpoll -V"
    "xvfb-run|xvfb xauth|xvfb-run -a -s '-screen 0 320x240x24' /bin/true"
    "libFuzzer (clang++ -fsanitize=fuzzer)|clang libclang-rt-14-dev|printf 'extern \"C\" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' | clang++ -x c++ -fsanitize=fuzzer,address - -o '$tmp/fuzz' && '$tmp/fuzz' -runs=1"
    "llvm-symbolizer|llvm|llvm-symbolizer --version"
    "python-docx and openpyxl (Debian's /usr/bin/python3)|python3-docx python3-openpyxl|/usr/bin/python3 -c 'import docx, openpyxl'"
    "LibreOffice headless|libreoffice-writer-nogui libreoffice-calc-nogui|soffice --headless --version"
    "pdftoppm and pdftotext|poppler-utils|pdftoppm -v && pdftotext -v"
    "xmllint|libxml2-utils|xmllint --version"
    "a PostgreSQL cluster of the journal tests|postgresql|d=\$(mktemp -d) && sh '$root/tests/journal/pg_fixture.sh' start \$d \$\$ && sh '$root/tests/journal/pg_fixture.sh' stop \$d"
    "a tmpfs in a mount namespace (journal tests of a full disk)|util-linux (and a kernel that allows mount namespaces)|unshare \$( [ \$(id -u) -eq 0 ] && echo -m || echo -rm) sh -c 'mount -t tmpfs -o size=64k tmpfs $tmp'"
  )
  local check name packages command
  for check in "${checks[@]}"; do
    IFS='|' read -r name packages command <<<"$check"
    if ! out=$(bash -c "$command" 2>&1 </dev/null); then
      rm -rf "$tmp"
      echo "test.sh: $name does not start ($(printf '%s\n' "$out" | grep -v '^\s*$' | tail -1)); it needs: $packages" >&2
      exit 1
    fi
  done
  rm -rf "$tmp"
}
