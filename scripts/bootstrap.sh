#!/usr/bin/env bash
# Installs every system package that the build, the tests, the benchmarks and the demo need.
# Quick when everything is present: apt is only asked when a package is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libisal-dev libxml2-dev
  # Differences between versions of a file; the delta benchmarks compare with the command-line tools.
  libzstd-dev zstd xdelta3 bsdiff
  # Signed releases: Ed25519 and SHA-256 on both platforms.
  libgcrypt20-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
  qt6-base-dev qt6-svg-dev qt6-translations-l10n libgl-dev fonts-liberation xvfb xauth
  nginx-light tinyproxy curl wget rsync zip unzip python3 acl
  # The network benchmark compares the mirror with a downloader of several connections.
  aria2
  # The Windows window's pictures and the program's icon are drawn from the same SVG artwork at build time.
  librsvg2-bin netpbm icoutils
  # Authenticode signatures of the shipped Windows program, and the throwaway certificate its test signs with.
  osslsigncode openssl
  # Screenshots of the Windows window: xwd, and the Marlett font Wine draws the close box with.
  x11-apps fonts-wine
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64
  # The shipped Windows program is 32-bit: Wine runs it with its 32-bit half, an i386 package.
  wine32:i386
)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  # apt knows i386 packages only once the architecture is added, and only after the next update.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The Windows build compiles the same libzstd from Debian's source package (mingw-w64 has none). It is fetched
# with a source list, state and cache of its own, so the machine's apt configuration stays as it is, into the
# folder the build looks in by default (ORVANE_ZSTD_SOURCE in CMake). Only this version's source downloads (the
# security update's, which Linux links, does not); both read and write the same frames.
zstd_source=${ORVANE_ZSTD_SOURCE:-/var/cache/orvane/libzstd-1.5.4}
if [ ! -f "$zstd_source/lib/zstd.h" ]; then
  "${sudo_cmd[@]}" mkdir -p "$(dirname "$zstd_source")"
  work=$("${sudo_cmd[@]}" mktemp -d "$zstd_source.XXXXXX")
  # shellcheck disable=SC2064 # the folder is known now
  trap "${sudo_cmd[*]} rm -rf '$work'" EXIT
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" |
    "${sudo_cmd[@]}" tee "$work/sources.list" >/dev/null
  apt_private=(-qq -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/nonexistent
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root)
  "${sudo_cmd[@]}" mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/unpacked"
  "${sudo_cmd[@]}" apt-get "${apt_private[@]}" update
  (cd "$work/unpacked" && "${sudo_cmd[@]}" apt-get "${apt_private[@]}" source libzstd=1.5.4+dfsg2-5 >/dev/null)
  # Moved into place whole, so a build never sees half a tree, nor does a second bootstrap running alongside.
  "${sudo_cmd[@]}" mv -T "$work"/unpacked/libzstd-*/ "$zstd_source" 2>/dev/null ||
    [ -f "$zstd_source/lib/zstd.h" ]
fi
# The distribution's nginx and tinyproxy services are not wanted: tests start their own on free ports.
for svc in nginx tinyproxy; do
  if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$svc" 2>/dev/null; then
    systemctl stop "$svc" || true
  fi
done
