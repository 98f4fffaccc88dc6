#!/usr/bin/env bash
# Installs what building and testing the watchdog needs on Debian, when it is missing:
# the mingw-w64 cross compilers (i686 for the product, x86_64 for the build that runs under
# wine64), wine64, and the native toolchain with GoogleTest and Google Benchmark.
set -euo pipefail

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 cmake g++ make libgtest-dev libbenchmark-dev python3)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q "${missing[@]}"
