#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and the machine
# lacks. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ libboost-dev libgtest-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine64 wine clang lld
  libclang-rt-14-dev  # libFuzzer and the sanitizers' runtimes for clang (only recommended by clang)
  libflatbuffers-dev flatbuffers-compiler protobuf-compiler libprotobuf-dev
  btrfs-progs  # a file system that shares blocks, for scripts/bench-clones.sh
  valgrind  # memcheck over the module tests
  python3  # the end-to-end tests read Pellumhost's --json documents back
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
install() { $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; }
# A fresh machine has no package lists yet, and old ones may name versions long gone.
if ! install 2>/dev/null; then
  $sudo apt-get update -qq >/dev/null
  install
fi
