#!/usr/bin/env bash
# Installs the build into a fresh prefix and uses it as a consumer would: the installed
# bxgrab runs, and small programs build against the driver and store C APIs through
# pkg-config and through the CMake package, then run against the installed libraries.
# Usage: check_install.sh BUILD_DIR CONSUMER_SOURCE_DIR
set -euo pipefail
build="$1"; consumer="$2"
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/bxgrab lib/libRIROVoruzarUZ.so lib/libkvcamdriver.so lib/libbx_mm40.so \
         include/kvcam/kvcam.h include/bxmm/mm40.h include/bxplatform/kernel.h \
         include/bxview/image_view.h lib/cmake/bxgrab/bxgrabConfig.cmake \
         lib/pkgconfig/kvcam.pc lib/pkgconfig/bx_mm40.pc; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

version="$("$prefix/bin/bxgrab" --version)"
case "$version" in bxgrab\ [0-9]*) ;; *) echo "bxgrab --version printed: $version"; exit 1;; esac

# pkg-config: the flags alone must be enough to build and run.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cc $(pkg-config --cflags kvcam bx_mm40) "$consumer/consumer.c" -o "$work/pc_consumer" \
   $(pkg-config --libs kvcam bx_mm40) -Wl,-rpath,"$prefix/lib"
"$work/pc_consumer"

# The CMake package.
cmake -S "$consumer" -B "$work/cmake_build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake_build" >/dev/null
"$work/cmake_build/consumer"
echo "install: ok ($version)"
