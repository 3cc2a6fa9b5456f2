#!/usr/bin/env bash
# Asks the status page server for its page from 8 connections on loopback while a copy of
# about 1.2 GiB runs through the engine to two drives (60 seconds at the most), and prints
# requests per second and errors. Figures only; it ends by itself.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
install_missing
build build >/dev/null
WORK="${VERTILO_BENCH_DIR:-/tmp/vertilo-web-bench}"
rm -rf "$WORK"
mkdir -p "$WORK/src" "$WORK/d1" "$WORK/d2"
for i in 1 2 3 4 5 6; do head -c 200M /dev/urandom > "$WORK/src/g$i.bin"; done
"$ROOT/build/bench/vertilo_bench" web 60 8 "$WORK/src" "$WORK/d1" "$WORK/d2"
rm -rf "$WORK"
