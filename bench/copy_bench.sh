#!/usr/bin/env bash
# Copies the benchmark data with Vertilo, with N parallel `cp -r`, and with one `tar` piped
# through `tee` into N `tar -x` (the last two timed up to their `sync`), each from a cold page
# cache, and prints one table with wall time, CPU time, bytes read from the source device and
# page-cache growth, and the ratios vertilo/cp and vertilo/tee:
#   - the whole data (three files of 200 MiB, 1,000 of 100 KiB to 600 KiB, 5,000 under 10 KiB)
#     at N = 1, 2, 4 and 8;
#   - each part alone at N = 1 and 4;
#   - the whole data to four drives, one of them exFAT (exfat-fuse), as a USB stick comes;
#   - four drives with one throttled to a tenth of its speed, and the others' finish times.
# As root the drives are loop-mounted ext4 in direct-I/O mode (512- and 4096-byte sectors);
# otherwise they are folders and the cache cannot be dropped. Figures only: nothing here passes
# or fails. VERTILO_BENCH_PARTS="whole" (or a list of whole, grandes, medianos, chicos, exfat,
# lento, verificar) runs only those rows. The table's Vertilo runs copy without reading back;
# the verificar rows give the read-back's cost: the whole data with and without it.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
install_missing
build build >/dev/null
# VERTILO_BENCH_BIN compares another build of the driver (an older commit, say).
BIN="${VERTILO_BENCH_BIN:-$ROOT/build/bench/vertilo_bench}"
WORK="${VERTILO_BENCH_DIR:-/tmp/vertilo-bench}"
PARTS="${VERTILO_BENCH_PARTS:-whole grandes medianos chicos exfat lento verificar}"
ROOTED=0
if [ "$(id -u)" -eq 0 ] && [ -e /dev/loop-control ]; then ROOTED=1; fi
mkdir -p "$WORK"

# Loop devices are recorded in $WORK/NAME.dev: volume runs in a subshell.
cleanup() {
  for m in "$WORK"/mnt/*; do mountpoint -q "$m" 2>/dev/null && umount "$m"; done
  for f in "$WORK"/*.dev; do [ -f "$f" ] && losetup -d "$(cat "$f")" 2>/dev/null; rm -f "$f"; done
  if [ -d /sys/fs/cgroup/blkio/vertilo-bench ]; then
    cat /sys/fs/cgroup/blkio/vertilo-bench/tasks 2>/dev/null | while read -r t; do echo "$t" > /sys/fs/cgroup/blkio/tasks; done
    rmdir /sys/fs/cgroup/blkio/vertilo-bench 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# volume NAME SECTOR [exfat]: a mounted drive folder; prints its path.
volume() {
  local dir="$WORK/mnt/$1"
  mkdir -p "$dir"
  if [ $ROOTED -eq 1 ]; then
    truncate -s 2G "$WORK/$1.img"
    local dev
    # Direct I/O on the backing file keeps the loop device out of the page cache, so that
    # the cache figures are the tools' own.
    dev=$(losetup -f --show --direct-io=on --sector-size "$2" "$WORK/$1.img")
    echo "$dev" > "$WORK/$1.dev"
    if [ "${3:-}" = exfat ]; then
      mkfs.exfat -q "$dev" >/dev/null 2>&1 || mkfs.exfat "$dev" >/dev/null
      mount.exfat-fuse "$dev" "$dir" >/dev/null
    else
      mkfs.ext4 -q -F -m 0 "$dev"
      mount "$dev" "$dir"
    fi
  fi
  echo "$dir"
}

cold() {
  sync
  [ $ROOTED -eq 1 ] && echo 3 > /proc/sys/vm/drop_caches || true
}
cached_kb() { awk '/^Cached:/ {print $2}' /proc/meminfo; }
read_sectors() {
  if [ $ROOTED -eq 1 ]; then awk '{print $3}' "/sys/block/$(basename "$(cat "$WORK/src.dev")")/stat"; else echo 0; fi
}

echo "Drives: $([ $ROOTED -eq 1 ] && echo 'loop-mounted ext4 in direct-I/O mode, source 512-byte sectors, destinations alternating 512 and 4096' || echo 'plain folders (not root: caches stay warm, source reads unknown)')"
SRC=$(volume src 512)
if [ ! -d "$SRC/chicos" ]; then
  echo "Making the data (about 1.2 GiB) in $SRC"
  mkdir -p "$SRC/grandes" "$SRC/medianos" "$SRC/chicos"
  for i in 1 2 3; do head -c 200M /dev/urandom > "$SRC/grandes/g$i.bin"; done
  for i in $(seq 1 1000); do head -c $(( (100 + (i * 7919) % 500) * 1024 )) /dev/urandom > "$SRC/medianos/m$i.bin"; done
  for d in $(seq 1 50); do
    mkdir -p "$SRC/chicos/d$d"
    for i in $(seq 1 100); do head -c $(( (i * 97) % 10000 + 1 )) /dev/urandom > "$SRC/chicos/d$d/c$i.txt"; done
  done
fi
echo "Source: $(du -sh "$SRC" | cut -f1), $(find "$SRC" -type f | wc -l) files"

DESTS=()
for i in 1 2 3 4 5 6 7 8; do DESTS+=("$(volume "d$i" $(( i % 2 == 1 ? 512 : 4096 )))"); done
EXFAT=""
if [[ " $PARTS " == *" exfat "* ]] && [ $ROOTED -eq 1 ] && command -v mount.exfat-fuse >/dev/null; then
  EXFAT=$(volume x1 512 exfat)
fi

clear_dests() {
  for d in "$@"; do find "$d" -mindepth 1 -maxdepth 1 ! -name lost+found -exec rm -rf {} +; done
}

# measure TOOL FROM DEST...: the figures of one run copying the folder FROM into every DEST.
measure() {
  local tool=$1 from=$2 out
  shift 2
  local dests=("$@") n=$#
  clear_dests "${dests[@]}"
  cold
  local before_read before_cache
  before_read=$(read_sectors)
  before_cache=$(cached_kb)
  case $tool in
    vertilo) out=$(VERTILO_BENCH_VERIFICAR="${VERIFICAR:-0}" "$BIN" copy "$from" "${dests[@]}") ;;
    cp)
      local cmd=""
      for d in "${dests[@]}"; do cmd+="cp -r '$from/.' '$d/' & "; done
      # Written means on the drive: the others' data is still in the cache until a sync.
      out=$("$BIN" run "${cmd} wait; sync") ;;
    tee)
      local pipes="" readers=""
      for i in $(seq 1 "$n"); do
        rm -f "$WORK/p$i"; mkfifo "$WORK/p$i"
        readers+="tar -C '${dests[$((i-1))]}' -xf '$WORK/p$i' & "
        pipes+=" '$WORK/p$i'"
      done
      out=$("$BIN" run "${readers} tar -C '$from' -cf - . | tee $pipes > /dev/null; wait; sync") ;;
  esac
  local read_mb cache_mb
  read_mb=$(( ($(read_sectors) - before_read) * 512 / 1048576 ))
  cache_mb=$(( ($(cached_kb) - before_cache) / 1024 ))
  echo "$out read_mb=$read_mb cache_mb=$cache_mb"
}

field() { sed -n "s/.*\b$1=\([0-9.-]*\).*/\1/p" <<< "$2"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

HEADER=$(printf "%-9s %2s | %7s %7s %7s | %5s %5s | %6s %6s %6s | %6s %6s | %6s %6s %6s" \
  part N vertilo cp tee v/cp v/tee cpu_v cpu_cp cpu_tee read_v read_cp cache_v cache_cp cache_t)
# row PART FROM DEST...: one line of the table.
row() {
  local part=$1 from=$2
  shift 2
  local v c t
  v=$(measure vertilo "$from" "$@"); c=$(measure cp "$from" "$@"); t=$(measure tee "$from" "$@")
  printf "%-9s %2s | %7s %7s %7s | %5s %5s | %6s %6s %6s | %6s %6s | %6s %6s %6s\n" "$part" "$#" \
    "$(field wall "$v")" "$(field wall "$c")" "$(field wall "$t")" \
    "$(ratio "$(field wall "$v")" "$(field wall "$c")")" "$(ratio "$(field wall "$v")" "$(field wall "$t")")" \
    "$(field cpu "$v")" "$(field cpu "$c")" "$(field cpu "$t")" \
    "$(field read_mb "$v")" "$(field read_mb "$c")" \
    "$(field cache_mb "$v")" "$(field cache_mb "$c")" "$(field cache_mb "$t")"
}

echo
echo "Seconds of wall and CPU time; MiB read from the source device and page-cache growth after the run."
echo "$HEADER"
has() { [[ " $PARTS " == *" $1 "* ]]; }
if has whole; then
  for n in 1 2 4 8; do row whole "$SRC" "${DESTS[@]:0:$n}"; done
fi
for part in grandes medianos chicos; do
  if has $part; then
    for n in 1 4; do row $part "$SRC/$part" "${DESTS[@]:0:$n}"; done
  fi
done
if [ -n "$EXFAT" ]; then
  row exfat+3 "$SRC" "$EXFAT" "${DESTS[@]:0:3}"
fi

if has verificar; then
  echo
  echo "Reading every copy back from its drive (the program's default), whole data, seconds:"
  for n in 1 4; do
    off=$(VERIFICAR=0 measure vertilo "$SRC" "${DESTS[@]:0:$n}")
    on=$(VERIFICAR=1 measure vertilo "$SRC" "${DESTS[@]:0:$n}")
    line="    N=$n: copy $(field wall "$off") s, copy and read-back $(field wall "$on") s (ratio $(ratio "$(field wall "$on")" "$(field wall "$off")")); per drive:"
    for i in $(seq 1 "$n"); do
      line+=" $(field "finish$i" "$off")->$(field "finish$i" "$on")"
    done
    echo "$line; read from the source $(field read_mb "$on") MiB"
  done
fi

if has lento && [ $ROOTED -eq 1 ] && [ -d /sys/fs/cgroup/blkio ]; then
  echo
  echo "One slow destination (4 drives; drive 1 throttled to a tenth of its unthrottled speed):"
  fast=$(measure vertilo "$SRC" "${DESTS[@]:0:4}")
  speed=$(awk -v s="$(du -sb "$SRC" | cut -f1)" -v t="$(field finish1 "$fast")" 'BEGIN { printf "%d", s / t / 10 }')
  mkdir -p /sys/fs/cgroup/blkio/vertilo-bench
  dev=$(cat "$WORK/d1.dev")
  echo "$(lsblk -ndo MAJ:MIN "$dev" | tr -d ' ') $speed" > /sys/fs/cgroup/blkio/vertilo-bench/blkio.throttle.write_bps_device
  echo $$ > /sys/fs/cgroup/blkio/vertilo-bench/tasks
  slow=$(measure vertilo "$SRC" "${DESTS[@]:0:4}")
  echo $$ > /sys/fs/cgroup/blkio/tasks
  for i in 1 2 3 4; do
    echo "    drive $i: finishes at $(field "finish$i" "$slow") s (without the slow drive's throttle: $(field "finish$i" "$fast") s, ratio $(ratio "$(field "finish$i" "$slow")" "$(field "finish$i" "$fast")"))"
  done
fi
