#!/usr/bin/env bash
# Sets up, builds and runs Valmora on Debian 12.
#
#   tools/setup.sh run [args...]  install what is missing, build, start the program
#   tools/setup.sh test           install what is missing, build, run every test
#                                 (a normal build and an address/undefined-behaviour
#                                 sanitizer build), then fuzz each fuzz target for
#                                 10 s (VALMORA_FUZZ_SECONDS; 0 skips it)
#   tools/setup.sh build          install what is missing and build
#
# Run as root on a fresh machine (it calls apt-get); as another user it only
# builds and tests, and says which packages are missing.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmd=${1:-test}
[ $# -gt 0 ] && shift

packages=(
  cmake g++ ninja-build ccache pkg-config git
  qt6-base-dev qt6-svg-dev libxkbcommon-dev libgl-dev
  libatasmart-dev libc-ares-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 nftables dnsmasq-base wsdd xvfb xauth
  libkrb5-dev krb5-kdc krb5-admin-server gss-ntlmssp gss-ntlmssp-dev
  python3-winrm python3-gssapi python3-aiosmtpd openssl
  smartmontools
  qemu-system-x86 linux-image-amd64 busybox-static nvme-cli
  clang libclang-rt-14-dev
  libsecret-1-dev gnome-keyring dbus-daemon dbus-bin
  libmicrohttpd-dev prometheus
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (run as root to install them): ${missing[*]}" >&2
    return 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
}

jobs=$(nproc 2>/dev/null || echo 2)

configure_and_build() { # dir, cmake options...
  local dir=$1
  shift
  cmake -S "$here" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
}

build_main() {
  configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

build_sanitized() {
  configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVALMORA_SANITIZE=ON \
    -DVALMORA_BUILD_BENCH=OFF -DVALMORA_BUILD_GUI=ON
}

# The thread sanitizer checks the tests where two threads meet (label "threads").
build_thread_checked() {
  cmake -S "$here" -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVALMORA_TSAN=ON \
    -DVALMORA_BUILD_BENCH=OFF -DVALMORA_BUILD_GUI=OFF >/dev/null
  cmake --build build-tsan --parallel "$jobs" --target foundation_tests refresh_tests icmp_tests monitor_server_tests
}

case "$cmd" in
  build)
    install_missing
    build_main
    ;;
  test)
    install_missing
    build_main
    build_sanitized
    build_thread_checked
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS="suppressions=$here/tools/lsan.supp"
    echo "== tests where threads meet, thread sanitizer =="
    TSAN_OPTIONS="suppressions=$here/tools/tsan.supp halt_on_error=1" \
      ctest --test-dir build-tsan -L threads --output-on-failure --timeout 600
    echo "== tests, address and undefined-behaviour sanitizer build =="
    ctest --test-dir build-asan --output-on-failure --parallel "$jobs" --timeout 600
    fuzz_seconds=${VALMORA_FUZZ_SECONDS:-10}
    if [ "$fuzz_seconds" -gt 0 ]; then
      echo "== fuzz targets, $fuzz_seconds s each =="
      fuzz/build.sh smoke "$fuzz_seconds"
    fi
    echo "== tests, normal build =="
    set +e
    ctest --test-dir build --output-on-failure --parallel "$jobs" --timeout 600 2>&1 | tee build/ctest-last.log
    status=${PIPESTATUS[0]}
    set -e
    # CTest lists skipped tests after its summary; end with the summary itself.
    grep -E '^[0-9]+% tests passed' build/ctest-last.log | tail -n 1
    exit "$status"
    ;;
  run)
    install_missing
    build_main
    if [ -x build/src/app/valmora ]; then
      exec build/src/app/valmora "$@"
    fi
    exec build/src/cli/valmora-cli "$@"
    ;;
  *)
    echo "usage: $0 run|test|build" >&2
    exit 2
    ;;
esac
