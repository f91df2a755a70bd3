#!/usr/bin/env bash
# Installs the Debian 12 packages Pixaloom needs, only those missing.
# Usage: tools/install-deps.sh [build|test|bench|fuzz]
set -euo pipefail

build_packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qcoro-qt6-dev
    libxcb1-dev libxcb-keysyms1-dev libxcb-xinput-dev libxcb-shm0-dev libtiff-dev libdeflate-dev libglib2.0-dev
    zlib1g-dev
    libgtest-dev libbenchmark-dev libcpp-httplib-dev)
test_packages=(fonts-dejavu-core xvfb xauth xdotool xclip dbus dbus-x11 trayer x11-xkb-utils
    desktop-file-utils librsvg2-bin xterm x11-apps openbox x11-utils)
# The benchmarks' realistic screenshots come from these X clients.
bench_packages=(fonts-dejavu-core xvfb xauth xterm x11-apps feh)
# tools/fuzz.sh: clang with libFuzzer and its sanitizer runtimes.
fuzz_packages=(clang-14 libclang-rt-14-dev)

wanted=("${build_packages[@]}")
if [[ "${1:-build}" == test ]]; then
    wanted+=("${test_packages[@]}")
elif [[ "${1:-build}" == bench ]]; then
    wanted+=("${bench_packages[@]}")
elif [[ "${1:-build}" == fuzz ]]; then
    wanted+=("${fuzz_packages[@]}")
fi

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo_prefix=()
if [[ $(id -u) -ne 0 ]]; then
    sudo_prefix=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_prefix[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo_prefix[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
