#!/usr/bin/env bash
# Renders the configuration dialog of the real DLL (x86_64 build) under Wine and a virtual X
# server into docs/config-dialog.png.
#
# usage: tools/render-dialog.sh [BUILD_DIR]     (default: build-render beside this repository's src)
# Needs: the MinGW x86_64 cross compiler, wine64, xvfb-run and python3.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-render}
build=$(mkdir -p "$build" && cd "$build" && pwd)
out=$root/docs/config-dialog.png

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target Pendant -j2 >/dev/null
x86_64-w64-mingw32-g++-win32 -std=c++20 -O1 -I"$root/src" "$root/tests/wine/dialog_host.cpp" \
  -o "$build/dialog_host.exe" -luser32 -lgdi32 -static-libgcc -static-libstdc++ -static

# A prefix of its own with the X11 driver: the test prefixes use the null driver, which draws
# nothing that a screenshot could catch.
export WINEPREFIX=$build/wine-prefix-render WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.render-ready" ]; then
  rm -rf "$WINEPREFIX"
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wineserver64 -w 2>/dev/null || wineserver -w
  touch "$WINEPREFIX/.render-ready"
fi

bmp=$build/config-dialog.bmp
rm -f "$bmp"
(cd "$build" && timeout 120 xvfb-run -a -s "-screen 0 1600x1000x24" \
  /usr/lib/wine/wine64 "$build/dialog_host.exe" "$bmp")
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
[ -s "$bmp" ] || { echo "render-dialog: no picture was taken" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
# 24-bit bottom-up BMP to PNG with the standard library only.
python3 - "$bmp" "$out" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset = struct.unpack_from("<I", data, 10)[0]
width, height = struct.unpack_from("<ii", data, 18)
stride = (width * 3 + 3) // 4 * 4
rows = []
for y in range(height - 1, -1, -1):
    row = data[offset + y * stride: offset + y * stride + width * 3]
    rgb = bytearray(row)
    rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
    rows.append(b"\0" + bytes(rgb))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
PY
echo "render-dialog: wrote $out"
