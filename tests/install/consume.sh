#!/bin/sh
# Installs the build tree into a fresh prefix right after building only the shell (what
# ./bspsim builds), then builds and runs a C and a C++ program against it, once through
# pkg-config and once through find_package(bsp_ctrl), the C one in a project without C++.
# Nothing points the loader at the prefix: the programs find the library by themselves.
set -eu
build=$1
archive=$2
src=$(cd "$(dirname "$0")/consumer" && pwd)
work=$(mktemp -d /tmp/bsp-consume-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
unset LD_LIBRARY_PATH
rm -f "$archive"
cmake --build "$build" --target bspsim >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cc -std=c99 -o "$work/c_pc" "$src/consumer.c" $(pkg-config --cflags --libs bsp_sim)
c++ -std=c++20 -o "$work/cxx_pc" "$src/consumer.cpp" $(pkg-config --cflags --libs bsp_sim)
# A consumer must succeed and print the switch port of hardware port 1 and, when given, a
# second line (what a C program read back from its database).
check() {
    out=$("$1" 2>/dev/null) || { echo "consume.sh: $1 failed: $out"; exit 1; }
    echo "$out" | grep -q '^hardware port 1 is switch port -\{0,1\}[0-9]*$' &&
        { [ -z "${2-}" ] || echo "$out" | grep -qx "$2"; } ||
        { echo "consume.sh: $1 printed: $out"; exit 1; }
}
check "$work/c_pc" 'database 0 holds hello'
check "$work/cxx_pc"

for project in c .; do
    cmake -S "$src/$project" -B "$work/build/$project" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$work/build/$project" >/dev/null
done
check "$work/build/c/consumer_c" 'database 0 holds hello'
check "$work/build/consumer_cxx"
echo "consume.sh: four consumers built and ran"
