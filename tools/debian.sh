#!/usr/bin/env bash
# Debian's packages for another machine, fetched by name from the archive
# this machine installs from, without touching its package state:
#
#   tools/debian.sh unpack ARCH DEST PACKAGE...   binary packages for ARCH
#                                                 (amd64, arm64) unpacked into DEST
#   tools/debian.sh source DEST PACKAGE           a source package with its patches
#                                                 applied, in DEST; prints its directory
#
# apt runs on a private configuration in build/debian-apt: this machine's
# archives with source entries added, for both architectures, and an empty
# list of installed packages.  Its indexes are refreshed when older than six
# hours.  Needs apt and, for sources, dpkg-source (dpkg-dev).
set -euo pipefail
cd "$(dirname "$0")/.."

state=$PWD/build/debian-apt
mkdir -p "$state/sources.list.d" "$state/lists/partial" "$state/archives/partial"
touch "$state/status"
# deb822 files gain the source type; one-line entries gain a deb-src twin.
for f in /etc/apt/sources.list.d/*.sources; do
  [ -e "$f" ] && sed 's/^Types: *deb *$/Types: deb deb-src/' "$f" >"$state/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -e "$f" ] && sed -n 's/^deb \(.*\)/deb \1\ndeb-src \1/p' "$f" >"$state/sources.list.d/$(basename "$f").list"
done
apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$state/sources.list.d"
  -o Dir::State::Lists="$state/lists" -o Dir::State::status="$state/status"
  -o Dir::Cache="$state" -o Dir::Cache::archives="$state/archives"
  -o APT::Architectures::=amd64 -o APT::Architectures::=arm64 -o Acquire::Languages=none
  -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=1)
if [ -z "$(find "$state/lists" -maxdepth 1 -name '*_Packages*' -mmin -360 | head -1)" ]; then
  "${apt[@]}" update >&2
fi

case "${1:-}" in
  unpack)
    arch=$2 dest=$3
    shift 3
    mkdir -p "$dest" "$state/debs/$arch"
    rm -f "$state/debs/$arch"/*.deb
    (cd "$state/debs/$arch" && "${apt[@]}" download "${@/%/:$arch}" >&2)
    for deb in "$state/debs/$arch"/*.deb; do dpkg-deb -x "$deb" "$dest"; done
    ;;
  source)
    dest=$2 package=$3
    mkdir -p "$dest"
    (cd "$dest" && "${apt[@]}" source "$package" >&2)
    find "$dest" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -1
    ;;
  *)
    sed -n '2,12s/^# \{0,1\}//p' "$0" >&2
    exit 2
    ;;
esac
