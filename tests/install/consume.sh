#!/bin/sh
# Installs the build tree into a fresh prefix right after building only the shell (what
# ./bspsim builds), then builds and runs a C and a C++ program against it, once through
# pkg-config and once through find_package(bsp_ctrl).
set -eu
build=$1
archive=$2
src=$(cd "$(dirname "$0")/consumer" && pwd)
work=$(mktemp -d /tmp/bsp-consume-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
rm -f "$archive"
cmake --build "$build" --target bspsim >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null
export LD_LIBRARY_PATH="$prefix/lib"

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cc -std=c99 -o "$work/c_pc" "$src/consumer.c" $(pkg-config --cflags --libs bsp_sim)
c++ -std=c++20 -o "$work/cxx_pc" "$src/consumer.cpp" $(pkg-config --cflags --libs bsp_sim)
check() {
    out=$("$@" 2>/dev/null)
    echo "$out" | grep -q '^hardware port 1 is switch port -\{0,1\}[0-9]*$' ||
        { echo "consume.sh: $1 printed: $out"; exit 1; }
}
check "$work/c_pc"
check "$work/cxx_pc"

cmake -S "$src" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/build" >/dev/null
check "$work/build/consumer_c"
check "$work/build/consumer_cxx"
echo "consume.sh: four consumers built and ran"
