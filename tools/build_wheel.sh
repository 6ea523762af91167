#!/usr/bin/env bash
# Builds what users install, into dist/: the sdist parsimetrics-<version>.tar.gz
# and, from it, one wheel per target,
#   parsimetrics-<version>-cp311-abi3-manylinux2014_x86_64.manylinux_2_17_x86_64.whl
#   parsimetrics-<version>-cp311-abi3-manylinux2014_aarch64.manylinux_2_17_aarch64.whl
# which install with pip alone on any Linux with glibc 2.17 or later: no
# compiler, no root, no libdivsufsort on the target machine.
#
# zig cross-compiles both against glibc 2.17 with its C++ runtime linked in
# (cmake/zig.cmake); libdivsufsort is compiled for each target from Debian's
# source package and linked into the modules; the target's libgcc_s, which
# the modules link against for its unwinder, comes from Debian's package for
# that architecture (tools/debian.sh).  auditwheel then checks each wheel
# against the manylinux_2_17 policy and tags it.  This machine's CPython
# headers serve both targets: for the stable ABI only sizes and alignments
# matter, and those agree (Debian's pyconfig.h for amd64 and arm64 differ in
# x86 assembler support, PY_SUPPORT_TIER and HAVE_USABLE_WCHAR_T only).
#
#   tools/build_wheel.sh [TARGET...]    TARGET: x86_64, aarch64 (default: both)
#
# Needs what tools/provision.sh installs.  Progress goes to standard error;
# standard output holds the wheels' paths, one a line, in the order asked.
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2

targets=${*:-x86_64 aarch64}
if ! python3 -c "import auditwheel, build, scikit_build_core, ziglang" 2>/dev/null; then
  echo "build, auditwheel, scikit-build-core or ziglang missing: run tools/provision.sh first" >&2
  exit 1
fi
version=$(python3 -c 'import tomllib; print(tomllib.load(open("pyproject.toml", "rb"))["project"]["version"])')
work=$PWD/build/wheel

# The wheels are built from the sdist, which proves it complete; each build
# starts afresh, since the sdist's files all carry the same time stamp.
rm -rf "dist/parsimetrics-$version.tar.gz" "$work/sdist" "$work/unrepaired"
python3 -m build --sdist --no-isolation --outdir dist .
mkdir -p "$work/sdist"
tar -xzf "dist/parsimetrics-$version.tar.gz" -C "$work/sdist"
src=$work/sdist/parsimetrics-$version

# What each target links from Debian, kept across runs in $work/TARGET/root.
prepare_root() {
  local arch=$1 root=$2 debian_arch
  case $arch in
    x86_64) debian_arch=amd64 ;;
    aarch64) debian_arch=arm64 ;;
    *) echo "unknown target '$arch' (targets: x86_64, aarch64)" >&2; exit 2 ;;
  esac
  [ -e "$root/ready" ] && return
  rm -rf "$root" "$work/$arch/divsufsort"
  bash tools/debian.sh unpack "$debian_arch" "$root" libgcc-s1
  if [ ! -d "$work/divsufsort-source" ]; then
    bash tools/debian.sh source "$work/divsufsort-source.partial" libdivsufsort >/dev/null
    mv "$work/divsufsort-source.partial" "$work/divsufsort-source"
  fi
  # Its CMake files predate CMake 3.5; the library alone, static, for linking
  # into position-independent modules.
  cmake -S "$(echo "$work"/divsufsort-source/libdivsufsort-*/)" -B "$work/$arch/divsufsort" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/zig-$arch.cmake" -DPARSIMETRICS_LIBGCC_S="$(libgcc_s "$root")" \
    -DCMAKE_POLICY_VERSION_MINIMUM=3.5 -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_EXAMPLES=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DCMAKE_INSTALL_PREFIX="$root/usr" >/dev/null
  cmake --build "$work/$arch/divsufsort" --target install >/dev/null
  touch "$root/ready"
}

libgcc_s() { find "$1" -name libgcc_s.so.1 | head -1; }

for arch in $targets; do
  root=$work/$arch/root
  prepare_root "$arch" "$root"
  # A build tree per target: CMake keeps a tree's first compiler.
  rm -rf "$work/$arch/cmake"
  python3 -m build --wheel --no-isolation --outdir "$work/unrepaired" "$src" \
    -C build-dir="$work/$arch/cmake" -C cmake.toolchain-file="$src/cmake/zig-$arch.cmake" \
    -C cmake.define.CMAKE_FIND_ROOT_PATH="$root" \
    -C cmake.define.PARSIMETRICS_LIBGCC_S="$(libgcc_s "$root")" \
    -C wheel.tags="cp311-abi3-linux_$arch"
  rm -f dist/parsimetrics-"$version"-*_"$arch".whl
  # auditwheel names only this machine's platforms on its command line; the
  # lowest tag the symbols allow ("auto") is checked to be the one intended.
  python3 -m auditwheel repair --plat auto --wheel-dir dist \
    "$work/unrepaired/parsimetrics-$version-cp311-abi3-linux_$arch.whl"
  wheel=$(ls dist/parsimetrics-"$version"-cp311-abi3-*manylinux*_"$arch".whl)
  case $wheel in
    *"manylinux_2_17_$arch"*) ;;
    *) echo "$wheel: not manylinux_2_17 (see auditwheel show)" >&2; python3 -m auditwheel show "$wheel"; exit 1 ;;
  esac
  python3 -m auditwheel show "$wheel"
  echo "$wheel" >&3
done
