#!/bin/bash
# Builds what a Windows user downloads, into build/release/: the x86-64 and
# the 32-bit program (stripped, statically linked), one installer holding both
# (it installs the 64-bit program on 64-bit Windows), a zip of the two
# programs, and SHA256SUMS over all of it. Run as root on Debian 12, like the
# other scripts; installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

scripts/setup.sh

version=$(sed -n 's/^project(QEXJoystick VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "release: no version in CMakeLists.txt" >&2; exit 1; }
out=$ROOT/build/release
rm -rf "$out"
mkdir -p "$out/zip/x86" "$out/zip/x64"

declare -A triple=([win32]=i686-w64-mingw32 [win64]=x86_64-w64-mingw32)
declare -A arch=([win32]=x86 [win64]=x64)
for preset in win32 win64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target QEXJoystick -j"$(nproc)" >/dev/null
  exe=$ROOT/build/$preset/app/QEXJoystick.exe
  python3 tests/release/shipped_check.py --exe "$exe" --objdump "${triple[$preset]}-objdump" \
    --symtab tools/symtab/symtab.py
  cp "$exe" "$out/QEXJoystick-$version-${arch[$preset]}.exe"
  cp "$exe" "$out/zip/${arch[$preset]}/QEXJoystick.exe"
done

echo "== installer"
makensis -V2 -DVERSION="$version" -DOUTFILE="$out/QEXJoystick-$version-setup.exe" \
  -DEXE32="$ROOT/build/win32/app/QEXJoystick.exe" -DEXE64="$ROOT/build/win64/app/QEXJoystick.exe" \
  -DICON="$ROOT/res/QEXJoystick.ico" tools/installer/QEXJoystick.nsi

echo "== zip"
(cd "$out/zip" && sha256sum x86/QEXJoystick.exe x64/QEXJoystick.exe >SHA256SUMS &&
  zip -q -X -r "$out/QEXJoystick-$version.zip" x86 x64 SHA256SUMS)
rm -rf "$out/zip"
(cd "$out" && sha256sum QEXJoystick-* >SHA256SUMS)
echo "release: $out"
ls -l "$out"
