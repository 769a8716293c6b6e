#!/usr/bin/env bash
# Measures what each size step does to setup_stub.exe (setup.exe without its
# payload): every step is a fresh target build under build/size/<step> with its
# own cache settings, and the stub's link map says where the bytes went.
# Run after `make` (it needs the host tools). Prints a Markdown table.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/size"
mkdir -p "$out"

# name | description | cmake arguments
steps=(
  "0-compiler-runtime|the compiler's runtime as it comes (posix threads, verbose terminate)|-DNORVANTA_QUIET_TERMINATE=OFF -DNORVANTA_WIN32_RUNTIME=OFF"
  "1-quiet-terminate|+ terminate handler without the demangler|-DNORVANTA_WIN32_RUNTIME=OFF"
  "2-win32-runtime|+ win32 thread model's libstdc++ and libgcc (the defaults)|"
  "3-plain-errors|+ plain library errors (opt-in, not the default)|-DNORVANTA_PLAIN_LIBRARY_ERRORS=ON"
  "x-no-async-unwind|defaults + -fno-asynchronous-unwind-tables|-DCMAKE_CXX_FLAGS=-fno-asynchronous-unwind-tables"
  "x-no-ident|defaults + -fno-ident|-DCMAKE_CXX_FLAGS=-fno-ident"
  "x-lto|defaults + link-time optimisation|-DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON -DCMAKE_POLICY_DEFAULT_CMP0069=NEW"
  "x-no-reloc|defaults + no base relocations (drops ASLR)|-DCMAKE_EXE_LINKER_FLAGS=-Wl,--disable-dynamicbase,--disable-reloc-section"
)

echo "| step | what | setup_stub.exe | libstdc++ | libgcc_eh | winpthread | MinGW CRT | our code | resources |"
echo "|---|---|---:|---:|---:|---:|---:|---:|---:|"
for s in "${steps[@]}"; do
  IFS='|' read -r name what args <<<"$s"
  dir="$out/$name"
  # shellcheck disable=SC2086
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DNORVANTA_HOST_TOOLS="$root/build/host/tools" \
    -DNORVANTA_PRODUCT_DIR="$dir" $args >/dev/null
  cmake --build "$dir" --target setup_stub >"$dir/build.log" 2>&1 || { cat "$dir/build.log" >&2; exit 1; }
  exe="$dir/setup/setup_stub.exe"
  python3 -c '
import os, sys
sys.path.insert(0, sys.argv[5])
import linkmap
mp, exe, name, what = sys.argv[1:5]
comp, _members, _rest = linkmap.breakdown(open(mp, encoding="utf-8", errors="replace").read(), os.path.getsize(exe))
cells = [comp.get(k, 0) for k in ("libstdc++", "libgcc_eh (unwinder)", "winpthread", "MinGW C runtime", "our code", "resources")]
print(f"| {name} | {what} | {os.path.getsize(exe)} | " + " | ".join(str(c) for c in cells) + " |")
' "$dir/setup/setup_stub.map" "$exe" "$name" "$what" "$root/bench"
done
