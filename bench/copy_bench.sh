#!/usr/bin/env bash
# Copies about 1 GiB to N = 1, 2, 4 and 8 drives with Vertilo, with N parallel `cp -r`, and
# with one `tar` piped through `tee` into N `tar -x`, each from a cold page cache, and prints
# wall time, CPU time, bytes read from the source device, page-cache growth and peak memory,
# with the ratios vertilo/cp and vertilo/tee. Then one run with one destination throttled to
# a tenth of the others' speed, and the cost of flushing each finished copy on 1,000 small
# files. As root the drives are loop-mounted ext4 (512- and 4096-byte sectors); otherwise
# they are folders, and the cache cannot be dropped. Figures only: nothing here passes or fails.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
install_missing
build build >/dev/null
BIN="$ROOT/build/bench/vertilo_bench"
NOFSYNC="$ROOT/build/bench/libvertilo_sin_volcado.so"
WORK="${VERTILO_BENCH_DIR:-/tmp/vertilo-bench}"
ROOTED=0
if [ "$(id -u)" -eq 0 ] && [ -e /dev/loop-control ]; then ROOTED=1; fi
mkdir -p "$WORK"

# Loop devices are recorded in $WORK/NAME.dev: volume runs in a subshell.
cleanup() {
  for m in "$WORK"/mnt/*; do mountpoint -q "$m" 2>/dev/null && umount "$m"; done
  for f in "$WORK"/*.dev; do [ -f "$f" ] && losetup -d "$(cat "$f")" 2>/dev/null; rm -f "$f"; done
  [ -d "$WORK/cg" ] && rmdir "$WORK/cg" 2>/dev/null || true
  if [ -d /sys/fs/cgroup/blkio/vertilo-bench ]; then
    cat /sys/fs/cgroup/blkio/vertilo-bench/tasks 2>/dev/null | while read -r t; do echo "$t" > /sys/fs/cgroup/blkio/tasks; done
    rmdir /sys/fs/cgroup/blkio/vertilo-bench 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# volume NAME SECTOR: a mounted drive folder; prints its path.
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
    mkfs.ext4 -q -F -m 0 "$dev"
    mount "$dev" "$dir"
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

echo "Drives: $([ $ROOTED -eq 1 ] && echo 'loop-mounted ext4, sources 512-byte sectors, destinations alternating 512 and 4096' || echo 'plain folders (not root: caches stay warm, source reads unknown)')"
SRC=$(volume src 512)
if [ ! -f "$SRC/.made" ]; then
  echo "Making the data (about 1 GiB) in $SRC"
  mkdir -p "$SRC/grandes" "$SRC/medianos" "$SRC/chicos"
  for i in 1 2 3; do head -c 200M /dev/urandom > "$SRC/grandes/g$i.bin"; done
  for i in $(seq 1 1000); do head -c $(( (100 + (i * 7919) % 500) * 1024 )) /dev/urandom > "$SRC/medianos/m$i.bin"; done
  for d in $(seq 1 50); do
    mkdir -p "$SRC/chicos/d$d"
    for i in $(seq 1 100); do head -c $(( (i * 97) % 10000 + 1 )) /dev/urandom > "$SRC/chicos/d$d/c$i.txt"; done
  done
  touch "$SRC/.made"
fi
echo "Source: $(du -sh "$SRC" | cut -f1), $(find "$SRC" -type f | wc -l) files"

DESTS=()
for i in 1 2 3 4 5 6 7 8; do DESTS+=("$(volume "d$i" $(( i % 2 == 1 ? 512 : 4096 )))"); done

clear_dests() { for d in "${DESTS[@]}"; do find "$d" -mindepth 1 -maxdepth 1 ! -name lost+found -exec rm -rf {} +; done; }

# measure TOOL N: prints the figures of one run.
measure() {
  local tool=$1 n=$2 dests=("${DESTS[@]:0:$2}") out
  clear_dests
  cold
  local before_read before_cache
  before_read=$(read_sectors)
  before_cache=$(cached_kb)
  case $tool in
    vertilo) out=$("$BIN" copy "$SRC" "${dests[@]}") ;;
    cp)
      local cmd=""
      for d in "${dests[@]}"; do cmd+="cp -r '$SRC/.' '$d/' & "; done
      # Written means on the drive: the others' data is still in the cache until a sync.
      out=$("$BIN" run "${cmd} wait; sync") ;;
    tee)
      local pipes="" readers=""
      for i in $(seq 1 "$n"); do
        rm -f "$WORK/p$i"; mkfifo "$WORK/p$i"
        readers+="tar -C '${dests[$((i-1))]}' -xf '$WORK/p$i' & "
        pipes+=" '$WORK/p$i'"
      done
      out=$("$BIN" run "${readers} tar -C '$SRC' -cf - . | tee $pipes > /dev/null; wait; sync") ;;
  esac
  sync
  local read_mb cache_mb
  read_mb=$(( ($(read_sectors) - before_read) * 512 / 1048576 ))
  cache_mb=$(( ($(cached_kb) - before_cache) / 1024 ))
  echo "$out read_mb=$read_mb cache_growth_mb=$cache_mb"
}

field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" <<< "$2"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

echo
printf "%-3s %-8s %s\n" N tool figures
for n in 1 2 4 8; do
  v=$(measure vertilo $n); c=$(measure cp $n); t=$(measure tee $n)
  printf "%-3s %-8s %s\n" "$n" vertilo "$v"
  printf "%-3s %-8s %s\n" "$n" cp "$c"
  printf "%-3s %-8s %s\n" "$n" tee "$t"
  echo "    wall ratio vertilo/cp=$(ratio "$(field wall "$v")" "$(field wall "$c")") vertilo/tee=$(ratio "$(field wall "$v")" "$(field wall "$t")")"
done

if [ $ROOTED -eq 1 ] && [ -d /sys/fs/cgroup/blkio ]; then
  echo
  echo "One slow destination (4 drives; drive 1 throttled to a tenth of its unthrottled speed):"
  fast=$(measure vertilo 4)
  speed=$(awk -v s="$(du -sb "$SRC" | cut -f1)" -v t="$(field finish1 "$fast")" 'BEGIN { printf "%d", s / t / 10 }')
  mkdir -p /sys/fs/cgroup/blkio/vertilo-bench
  dev=$(cat "$WORK/d1.dev")
  echo "$(lsblk -ndo MAJ:MIN "$dev" | tr -d ' ') $speed" > /sys/fs/cgroup/blkio/vertilo-bench/blkio.throttle.write_bps_device
  echo $$ > /sys/fs/cgroup/blkio/vertilo-bench/tasks
  slow=$(measure vertilo 4)
  echo $$ > /sys/fs/cgroup/blkio/tasks
  for i in 1 2 3 4; do
    echo "    drive $i: finishes at $(field "finish$i" "$slow") s (without the slow drive's throttle: $(field "finish$i" "$fast") s)"
  done
fi

echo
echo "Flushing each finished copy, 1,000 files of 4 KiB to one drive:"
SMALL="$WORK/small"
if [ ! -d "$SMALL" ]; then
  mkdir -p "$SMALL"
  for i in $(seq 1 1000); do head -c 4096 /dev/urandom > "$SMALL/s$i"; done
fi
for run in 1 2; do
  clear_dests; cold
  with=$("$BIN" copy "$SMALL" "${DESTS[0]}")
  clear_dests; cold
  without=$(LD_PRELOAD="$NOFSYNC" "$BIN" copy "$SMALL" "${DESTS[0]}")
  echo "    run $run: with flush wall=$(field wall "$with") s, without flush wall=$(field wall "$without") s, ratio $(ratio "$(field wall "$with")" "$(field wall "$without")")"
done
