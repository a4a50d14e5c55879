#!/usr/bin/env bash
# Installs the built tree into a scratch prefix, then builds and runs a small
# consumer against it twice: through find_package(Sundry) and through
# pkg-config.
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
test -f "$work/prefix/include/sundry/sundry.h"

cmake -S "$source_dir/tests/install/consumer" -B "$work/consumer" \
  -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/consumer" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib:$work/prefix/lib/x86_64-linux-gnu" "$work/consumer/consumer"
echo

libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -n 1)
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs sundry)
# The .pc file names the install prefix given at configure time; point it at
# the scratch prefix instead.
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --define-variable=prefix="$work/prefix" --cflags --libs sundry)
c++ -std=c++20 "$source_dir/tests/install/consumer/main.cpp" $flags -o "$work/consumer-pc"
LD_LIBRARY_PATH="$(dirname "$libdir")" "$work/consumer-pc"
echo
