#!/usr/bin/env bash
# Prints 32 when this machine runs 32-bit programs (the product's Wine, wine32), 64 when
# its kernel runs no 32-bit code at all (booted with ia32_emulation off: no 32-bit
# programs and no 32-bit code segment, so neither wine32 nor Wine's own WoW64 can run).
# Before wine32 is installed there is nothing to try: 32.
if [ -n "${NORVANTA_WINE_BITS:-}" ]; then echo "$NORVANTA_WINE_BITS"; exit 0; fi
if [ ! -e /lib/ld-linux.so.2 ] || /lib/ld-linux.so.2 --version >/dev/null 2>&1; then echo 32; else echo 64; fi
