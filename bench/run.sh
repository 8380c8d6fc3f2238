#!/usr/bin/env bash
# Benchmark of the headless installation against tar on the same tree. The
# installation makes everything it writes durable before it reports, so tar
# is made durable too: its extraction is followed by `sync -f` on the
# target's file system. An up-to-date rerun, which writes nothing, is
# compared with plain tar -xzf of the same kit into an empty folder, for the
# kit and for a kit with the same file table but ten times the data.
#
#   bench/run.sh                 uses build/bin/xdktool (built if missing)
#   BUILD_DIR=build-x bench/run.sh
#   BENCH_REPS=7 bench/run.sh    repetitions per case (default 5)
#
# With minisign at hand, a signed copy of the kit is timed too: a first
# install against the unsigned kit's, and an up-to-date rerun against plain
# tar -xzf.
#
# Prints figures; it is not a test and asserts nothing. Everything it makes
# lives in one temporary directory that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-build}
REPS=${BENCH_REPS:-5}
XDKTOOL=$ROOT/$BUILD_DIR/bin/xdktool
export LC_ALL=C.UTF-8 LANG=C.UTF-8

if [ ! -x "$XDKTOOL" ]; then
  cmake -S "$ROOT" -B "$ROOT/$BUILD_DIR" >/dev/null
  cmake --build "$ROOT/$BUILD_DIR" -j2 --target xdktool >/dev/null
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qxr8-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
# The installer's temporary files (unpacked kit, backup tree) stay in here.
export TMPDIR=$WORK/tmp HOME=$WORK/home
mkdir -p "$TMPDIR" "$HOME"

# A deterministic tree of text-like files: 2,000 files in 200 nested
# folders, about 50 MB; the same generator's first tenth as a small tree;
# and the same names with ten times the bytes each (tree10, about 500 MB),
# drawn from a pool of such lines so that it takes seconds to make.
python3 - "$WORK" <<'PY'
import os, random, sys
work = sys.argv[1]
rng = random.Random(20261208)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 10)))
         for _ in range(600)]
folders = [""]
depth = {"": 0}
while len(folders) < 201:            # the root and 200 folders
    parent = rng.choice([f for f in folders if depth[f] < 5])
    name = (parent + "/" if parent else "") + "dir%03d" % (len(folders) - 1)
    folders.append(name)
    depth[name] = depth[parent] + 1
files = 2000
target_total = 50 * 1024 * 1024
sizes = [rng.lognormvariate(0, 0.8) for _ in range(files)]
scale = target_total / sum(sizes)
def text(size):
    out, n = [], 0
    while n < size:
        line = "%s = %s %d; %s\n" % (rng.choice(words), " ".join(rng.choice(words)
               for _ in range(rng.randint(3, 12))), rng.randint(0, 99999), rng.choice(words))
        out.append(line)
        n += len(line)
    return "".join(out)[:size]
def write(root, rel, data):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(data)
    os.utime(path, (1700000000, 1700000000))
for i in range(files):
    folder = folders[1 + i % 200]
    rel = "%s/file%04d.tpl" % (folder, i)
    data = text(max(64, int(sizes[i] * scale)))
    write(os.path.join(work, "tree"), rel, data)
    if i < files // 10:
        write(os.path.join(work, "small"), rel, data)
pool = [text(200) for _ in range(4000)]
for i in range(files):
    rel = "%s/file%04d.tpl" % (folders[1 + i % 200], i)
    size = 10 * max(64, int(sizes[i] * scale))
    data = "".join(rng.choices(pool, k=size // 200 + 1))[:size]
    write(os.path.join(work, "tree10"), rel, data)
PY

# pack refuses a kit without a product and a vendor.
HEADER=(--product "Bench templates" --vendor "Bench")
"$XDKTOOL" pack -6 "${HEADER[@]}" "$WORK/tree" "$WORK/tree.xdk"
"$XDKTOOL" pack -6 "${HEADER[@]}" "$WORK/small" "$WORK/small.xdk"
tar -czf "$WORK/tree.tar.gz" -C "$WORK/tree" .
"$XDKTOOL" pack -6 "${HEADER[@]}" "$WORK/tree10" "$WORK/tree10.xdk"
tar -czf "$WORK/tree10.tar.gz" -C "$WORK/tree10" .

# The same kit signed, beside its signature; its key is the only one given.
SIGNED=
if command -v minisign >/dev/null; then
  mkdir -p "$WORK/signed"
  cp "$WORK/tree.xdk" "$WORK/signed/tree.xdk"
  minisign -G -W -p "$WORK/signed/author.pub" -s "$WORK/signed/author.key" >/dev/null
  minisign -S -s "$WORK/signed/author.key" -m "$WORK/signed/tree.xdk" -t "bench kit" >/dev/null
  SIGNED=$WORK/signed/tree.xdk
fi

now_ns() { date +%s%N; }
# Runs the command and appends its wall time in milliseconds to file $1.
timed() {
  local out=$1; shift
  local t0 t1
  t0=$(now_ns)
  "$@" >/dev/null
  t1=$(now_ns)
  echo $(( (t1 - t0) / 1000000 )) >>"$out"
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
age_files() { find "$1" -type f -exec touch -h -d @1600000000 {} +; }

install_into() { "$XDKTOOL" install "$WORK/tree.xdk" "$1"; }
tar_into() { mkdir -p "$1" && tar -xzf "$WORK/tree.tar.gz" -C "$1" && sync -f "$1"; }
# Plain extraction into an empty folder, for the up-to-date reruns.
untar_into() { mkdir -p "$1" && tar -xzf "$WORK/tree.tar.gz" -C "$1"; }
signed_into() { "$XDKTOOL" install --key "$WORK/signed/author.pub" "$SIGNED" "$1"; }
install10_into() { "$XDKTOOL" install "$WORK/tree10.xdk" "$1"; }
untar10_into() { mkdir -p "$1" && tar -xzf "$WORK/tree10.tar.gz" -C "$1"; }

# /dev/shm when it is a file system other than the catalog's.
SHM_TMP=
if [ -d /dev/shm ] && [ "$(stat -c %d /dev/shm)" != "$(stat -c %d "$WORK")" ]; then
  SHM_TMP=$(mktemp -d /dev/shm/qxr8-bench-XXXXXX)
  trap 'rm -rf "$WORK" "$SHM_TMP"' EXIT
fi

CAT_X=$WORK/catalog-xdk
CAT_T=$WORK/catalog-tar
CAT_X10=$WORK/catalog-xdk10
EMPTY_T=$WORK/empty-tar
results=$WORK/results
mkdir -p "$results"
# The ten times larger kit, installed once: every rerun finds it up to date.
install10_into "$CAT_X10" >/dev/null

for ((r = 0; r < REPS; r++)); do
  # First install into an empty catalog; the order alternates between runs.
  rm -rf "$CAT_X" "$CAT_T"
  if (( r % 2 == 0 )); then
    timed "$results/first.xdk" install_into "$CAT_X"; timed "$results/first.tar" tar_into "$CAT_T"
  else
    timed "$results/first.tar" tar_into "$CAT_T"; timed "$results/first.xdk" install_into "$CAT_X"
  fi
  # Update: every installed file is older than the kit's copy.
  age_files "$CAT_X"; age_files "$CAT_T"
  if (( r % 2 == 0 )); then
    timed "$results/update.xdk" install_into "$CAT_X"; timed "$results/update.tar" tar_into "$CAT_T"
  else
    timed "$results/update.tar" tar_into "$CAT_T"; timed "$results/update.xdk" install_into "$CAT_X"
  fi
  # Update with the temporary directory (the unpacked kit) on another file
  # system, as where /tmp is a memory file system.
  if [ -n "$SHM_TMP" ]; then
    age_files "$CAT_X"; age_files "$CAT_T"
    if (( r % 2 == 0 )); then
      TMPDIR=$SHM_TMP timed "$results/update-shm.xdk" install_into "$CAT_X"
      timed "$results/update-shm.tar" tar_into "$CAT_T"
    else
      timed "$results/update-shm.tar" tar_into "$CAT_T"
      TMPDIR=$SHM_TMP timed "$results/update-shm.xdk" install_into "$CAT_X"
    fi
  fi
  # Rerun: everything is up to date.
  if (( r % 2 == 0 )); then
    timed "$results/rerun.xdk" install_into "$CAT_X"; timed "$results/rerun.tar" tar_into "$CAT_T"
  else
    timed "$results/rerun.tar" tar_into "$CAT_T"; timed "$results/rerun.xdk" install_into "$CAT_X"
  fi
  # Up-to-date rerun of each kit against tar -xzf of the same kit into an
  # empty folder (emptied between runs, untimed).
  for k in "" 10; do
    catalog=$CAT_X; [ -n "$k" ] && catalog=$CAT_X10
    rm -rf "$EMPTY_T"
    if (( r % 2 == 0 )); then
      timed "$results/uptodate$k.xdk" "install${k}_into" "$catalog"
      timed "$results/uptodate$k.tar" "untar${k}_into" "$EMPTY_T"
    else
      timed "$results/uptodate$k.tar" "untar${k}_into" "$EMPTY_T"
      timed "$results/uptodate$k.xdk" "install${k}_into" "$catalog"
    fi
  done
  rm -rf "$EMPTY_T"
  # The signed kit: a first install against the unsigned one's, then its
  # up-to-date rerun against tar -xzf into an empty folder.
  if [ -n "$SIGNED" ]; then
    rm -rf "$CAT_X" "$WORK/catalog-signed" "$EMPTY_T"
    if (( r % 2 == 0 )); then
      timed "$results/signed.xdk" signed_into "$WORK/catalog-signed"
      timed "$results/signed.plain" install_into "$CAT_X"
      timed "$results/signed-rerun.xdk" signed_into "$WORK/catalog-signed"
      timed "$results/signed-rerun.tar" untar_into "$EMPTY_T"
    else
      timed "$results/signed.plain" install_into "$CAT_X"
      timed "$results/signed.xdk" signed_into "$WORK/catalog-signed"
      timed "$results/signed-rerun.tar" untar_into "$EMPTY_T"
      timed "$results/signed-rerun.xdk" signed_into "$WORK/catalog-signed"
    fi
    rm -rf "$EMPTY_T"
  fi
  # What opening the kit alone costs (inflating it into the temporary file).
  timed "$results/open.xdk" "$XDKTOOL" list "$WORK/tree.xdk"
done

files=$(find "$WORK/tree" -type f | wc -l)
dirs=$(find "$WORK/tree" -mindepth 1 -type d | wc -l)
bytes=$(du -sb "$WORK/tree" | cut -f1)
printf 'tree: %d files in %d folders, %d bytes; kit %d bytes, tar.gz %d bytes\n' \
  "$files" "$dirs" "$bytes" "$(stat -c %s "$WORK/tree.xdk")" "$(stat -c %s "$WORK/tree.tar.gz")"
printf 'median wall time of %d runs each, run alternately (ms):\n' "$REPS"
printf '  %-10s %10s %10s %8s %8s\n' case xdktool "tar+sync" ratio goal
cases="first update"
[ -n "$SHM_TMP" ] && cases="$cases update-shm"
for c in $cases rerun; do
  x=$(median "$results/$c.xdk"); t=$(median "$results/$c.tar")
  case $c in
    first) goal='<= 1.0' ;; update | update-shm) goal='<= 1.2' ;; rerun) goal='<= 0.5' ;;
  esac
  printf '  %-10s %10d %10d %8s %8s\n' "$c" "$x" "$t" "$(awk -v a="$x" -v b="$t" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')" "$goal"
done
[ -z "$SHM_TMP" ] && echo "  update-shm: skipped, /dev/shm is not another file system here"
printf '  (update-shm: TMPDIR on /dev/shm, another file system than the catalog)\n'
printf '  opening the kit alone (xdktool list): %d ms\n' "$(median "$results/open.xdk")"
printf 'tree10: the same names, %d bytes; kit %d bytes, tar.gz %d bytes\n' \
  "$(du -sb "$WORK/tree10" | cut -f1)" "$(stat -c %s "$WORK/tree10.xdk")" "$(stat -c %s "$WORK/tree10.tar.gz")"
printf 'up-to-date rerun against tar -xzf of the same kit into an empty folder (ms):\n'
printf '  %-10s %10s %10s %8s %8s\n' kit xdktool "tar -xzf" ratio goal
for k in "" 10; do
  x=$(median "$results/uptodate$k.xdk"); t=$(median "$results/uptodate$k.tar")
  printf '  %-10s %10d %10d %8s %8s\n' "tree$k" "$x" "$t" "$(awk -v a="$x" -v b="$t" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }')" '<= 0.05'
done
x1=$(median "$results/uptodate.xdk"); x10=$(median "$results/uptodate10.xdk")
printf '  xdktool, tree10 against tree: %s (goal: about 1, whatever the data size)\n' \
  "$(awk -v a="$x10" -v b="$x1" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')"
if [ -n "$SIGNED" ]; then
  printf 'signed kit (the same kit, its signature checked) (ms):\n'
  x=$(median "$results/signed.xdk"); t=$(median "$results/signed.plain")
  printf '  %-26s %8d against unsigned %8d, ratio %s (goal <= 1.05)\n' "first install" "$x" "$t" \
    "$(awk -v a="$x" -v b="$t" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')"
  x=$(median "$results/signed-rerun.xdk"); t=$(median "$results/signed-rerun.tar")
  printf '  %-26s %8d against tar -xzf %8d, ratio %s (goal <= 0.1)\n' "up-to-date rerun" "$x" "$t" \
    "$(awk -v a="$x" -v b="$t" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }')"
else
  echo "signed kit: skipped, minisign is not installed"
fi

# Peak resident memory of a first install, small kit against one ten times
# larger.
peak_rss_kb() {  # kit, catalog
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%M' -o "$WORK/rss" "$XDKTOOL" install "$1" "$2" >/dev/null
    tail -n 1 "$WORK/rss"
  else
    python3 -c 'import os, sys
pid = os.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
_, _, usage = os.wait4(pid, 0)
print(usage.ru_maxrss)' "$XDKTOOL" install "$1" "$2"
  fi
}
rm -rf "$CAT_X"; small=$(peak_rss_kb "$WORK/small.xdk" "$WORK/rss-small")
rm -rf "$CAT_X"; large=$(peak_rss_kb "$WORK/tree.xdk" "$WORK/rss-large")
printf 'peak RSS of a first install: small kit (%d bytes) %d KiB, 10x kit (%d bytes) %d KiB, ratio %s (goal <= 1.2)\n' \
  "$(stat -c %s "$WORK/small.xdk")" "$small" "$(stat -c %s "$WORK/tree.xdk")" "$large" \
  "$(awk -v a="$large" -v b="$small" 'BEGIN { printf "%.2f", a / b }')"
