#!/usr/bin/env bash
# Installs every Debian package the build, the run and the tests need.
# Idempotent: a machine that already has them only pays for one package-list refresh.
set -euo pipefail

packages=(
  # tool chain
  build-essential cmake ninja-build pkg-config git make
  # libraries
  libglib2.0-dev libgtk-4-dev zlib1g-dev libcurl4-openssl-dev libpq-dev
  # password hashing (crypt)
  libcrypt-dev
  # AES-GCM (libcrypto) and the certificate API client (libtls); the tests' PKI (openssl) and their
  # independent GCM (python3-pycryptodome, imported as Cryptodome)
  libssl-dev libtls-dev openssl python3-pycryptodome
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # fuzzing
  clang libclang-rt-14-dev
  # test tools (sed and date are oracles of the formatting tests)
  xvfb xdotool python3 util-linux sed coreutils tzdata
  # GUI tests: xprop (WM_TRANSIENT_FOR), the icons and the font the snapshots are drawn with
  x11-utils adwaita-icon-theme fonts-dejavu-core
  # the C library's grouped number formatting, the peer of the formatting benchmark
  locales
  # the picture-header probe's oracle (identify) and its test pictures (convert)
  imagemagick
  # the database server the tests start (a scratch cluster per test program) and its client tools
  postgresql-15 postgresql-client-15
  # network namespaces of the test runner (ip link set lo up)
  iproute2
  # the debugger whose stack trace fatal reports carry
  gdb
  # video frames from the database (FFmpeg's libraries), and the ffmpeg command that makes the
  # tests' videos and reference frames
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
  # libxml2: the SBR XML import's SAX parser and the benchmarks' peer; xmllint checks the notes the
  # note tests write
  libxml2-dev libxml2-utils
  # OpenDocument packages (libzip) and the checks of the filled ones (xmllint above, file)
  libzip-dev file
  # the report tests' PostScript interpreter (gs, ps2ascii; its font map uses fonts-urw-base35) and
  # the report replay benchmark's peer (enscript)
  ghostscript fonts-urw-base35 enscript
  # instruction counts of the executor benchmarks (callgrind)
  valgrind
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The directory client library, and the server and client tools the tests start and check with (a
# private slapd per test program). The server package would start a system daemon on installation:
# service starts are refused while it installs (a temporary policy-rc.d), so none is left running.
ldap_packages=(libldap-dev slapd ldap-utils)
ldap_missing=()
for p in "${ldap_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || ldap_missing+=("$p")
done
if ((${#ldap_missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  policy=/usr/sbin/policy-rc.d
  saved=$(mktemp)
  had_policy=0
  if [ -e "$policy" ]; then cp -p "$policy" "$saved"; had_policy=1; fi
  restore_policy() {
    if ((had_policy)); then cp -p "$saved" "$policy"; else rm -f "$policy"; fi
    rm -f "$saved"
  }
  trap restore_policy EXIT
  printf '#!/bin/sh\nexit 101\n' > "$policy"
  chmod 755 "$policy"
  ((${#missing[@]})) || apt-get update
  apt-get install -y --no-install-recommends "${ldap_missing[@]}"
  restore_policy
  trap - EXIT
fi

# The drill window's report lines ask for "Times-Roman" by that name; the URW fonts answer to "Times".
install -m 644 "$(dirname "$0")/fontconfig/61-lumba-times-roman.conf" /etc/fonts/conf.d/61-lumba-times-roman.conf

# The formatting benchmark compares against printf's grouping, which needs a locale that groups.
if ! locale -a 2>/dev/null | grep -qx 'en_US.utf8'; then
  localedef -i en_US -f UTF-8 en_US.UTF-8
fi
