#!/usr/bin/env bash
# Speed and peak memory of an album run on real photographs, against the decode that the run
# cannot avoid (djpeg with the float DCT) and against ImageMagick doing the same work.
#   bench/bench.sh [RUNS]        RUNS timed runs of each command (default 5)
# Environment: ZENFO_BUILD_DIR (default build-bench, an optimised build of zenfo-make),
# ZENFO_BENCH_JOBS (default: the number of cores).
# The corpus is the JPEG files of at least 300 KB from two Debian wallpaper packages, fetched
# once into bench/.corpus/. Every run works on a fresh copy of it, outside the timing.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-5}"
source scripts/packages.sh
scripts/deps.sh "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"

build_dir="${ZENFO_BUILD_DIR:-build-bench}"
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  # RelWithDebInfo (-O2): GCC 12 at -O3 stops -Werror builds with false -Wrestrict warnings.
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENFO_BUILD_UI=OFF \
    -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build_dir" --target zenfo-make >/dev/null
zenfo_make="$build_dir/cli/zenfo-make"
cores=$(nproc)
jobs="${ZENFO_BENCH_JOBS:-$cores}"
# ImageMagick itself, not whatever else is called convert earlier on the PATH.
convert=/usr/bin/convert
identify=/usr/bin/identify

# ---- Corpus ------------------------------------------------------------------------------------
corpus=bench/.corpus
photos="$corpus/photos"
if [ ! -f "$photos/.complete" ]; then
  rm -rf "$corpus/debs" "$corpus/tree" "$photos"
  mkdir -p "$corpus/debs" "$corpus/tree" "$photos"
  packages=(mate-backgrounds plasma-workspace-wallpapers)
  if ! (cd "$corpus/debs" && apt-get download "${packages[@]}"); then
    apt-get update -qq
    (cd "$corpus/debs" && apt-get download "${packages[@]}")
  fi
  for deb in "$corpus"/debs/*.deb; do dpkg -x "$deb" "$corpus/tree"; done
  # Many files share a name (2560x1600.jpg): the flat name keeps the path.
  find "$corpus/tree" -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) -size +299k -print0 |
    while IFS= read -r -d '' file; do
      [ "$(stat -c %s "$file")" -ge 307200 ] || continue
      name="${file#"$corpus/tree/usr/share/"}"
      cp "$file" "$photos/${name//\//-}"
    done
  rm -rf "$corpus/tree"
  touch "$photos/.complete"
fi
mapfile -t files < <(find "$photos" -maxdepth 1 -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) | sort)
[ "${#files[@]}" -gt 0 ] || { echo "bench.sh: no photos in $photos" >&2; exit 1; }

# Size of the corpus and of its largest decoded photo (3 bytes a pixel).
read -r count megapixels_min megapixels_max largest_bytes corpus_bytes < <(
  for f in "${files[@]}"; do
    printf '%s %s\n' "$("$identify" -ping -format '%w %h' "$f")" "$(stat -c %s "$f")"
  done | awk '{ p = $1 * $2; n++; s += $3
                if (min == "" || p < min) min = p
                if (p > max) max = p }
              END { printf "%d %.1f %.1f %d %d\n", n, min / 1e6, max / 1e6, max * 3, s }')

# ---- Measuring ---------------------------------------------------------------------------------
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zenfo-bench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
results="$scratch/results"
mkdir -p "$results"

# measure NAME COMMAND...: runs the command once under /usr/bin/time and appends
# "elapsed cpu peak-KiB" to the results of NAME. The peak of a loop of commands is that of its
# largest process.
measure() {
  local name=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$scratch/time" "$@" >/dev/null
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$scratch/time" >>"$results/$name"
}

fresh_copy() {
  rm -rf "$scratch/album"
  mkdir -p "$scratch/album"
  cp "${files[@]}" "$scratch/album/"
}

printf '%s\n' "${files[@]}" >"$scratch/list"
# The decode alone, one djpeg per photo.
cat >"$scratch/djpeg.sh" <<'SCRIPT'
while IFS= read -r f; do djpeg -dct float -outfile /dev/null "$f"; done <"$1"
SCRIPT
# One convert per photo: decode once, write a 128 and a 512 copy by pixel selection, quality 90.
cat >"$scratch/magick.sh" <<'SCRIPT'
i=0
while IFS= read -r f; do
  "$2" "$f" \( +clone -sample 128x128 -quality 90 -write "$3/t$i.jpg" +delete \) \
    -sample 512x512 -quality 90 "$3/b$i.jpg"
  i=$((i + 1))
done <"$1"
SCRIPT
zenfo_run=("$zenfo_make" --quiet --screen-width 1024 --link created)

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
# Rounds interleave the commands, so that a change in the machine's load touches them alike.
for round in $(seq "$runs"); do
  echo "bench.sh: round $round of $runs" >&2
  fresh_copy
  measure zenfo-1 "${zenfo_run[@]}" --jobs 1 "$scratch/album/"
  fresh_copy
  measure "zenfo-$jobs" "${zenfo_run[@]}" --jobs "$jobs" "$scratch/album/"
  measure djpeg bash "$scratch/djpeg.sh" "$scratch/list"
  fresh_copy
  measure magick bash "$scratch/magick.sh" "$scratch/list" "$convert" "$scratch/album"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- Report ------------------------------------------------------------------------------------
# stats NAME: "median min max cpu-median peak-MiB" of NAME's runs.
stats() {
  local name=$1
  local e c m
  e=$(cut -d' ' -f1 "$results/$name" | sort -g | awk '{ v[NR] = $1 } END {
        med = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.2f %.2f %.2f", med, v[1], v[NR] }')
  c=$(cut -d' ' -f2 "$results/$name" | sort -g | awk '{ v[NR] = $1 } END {
        printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  m=$(cut -d' ' -f3 "$results/$name" | sort -g | tail -1)
  echo "$e $c $((m / 1024))"
}

read -r z1 z1min z1max z1cpu z1mem < <(stats zenfo-1)
read -r zn znmin znmax zncpu znmem < <(stats "zenfo-$jobs")
read -r dj djmin djmax djcpu djmem < <(stats djpeg)
read -r im immin immax imcpu immem < <(stats magick)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v v="$1" -v t="$2" -v op="$3" 'BEGIN {
  ok = op == "le" ? v <= t : v >= t; print ok ? "met" : "MISSED" }'; }
limit_mib() { echo $(((($1 + 1) * largest_bytes + 64 * 1048576) / 1048576)); }

cpu_model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
memory_gib=$(awk '/MemTotal/ { printf "%.0f", $2 / 1048576 }' /proc/meminfo)
cat <<EOF

Machine: $cpu_model, $cores cores, ${memory_gib} GiB; $(. /etc/os-release && echo "$PRETTY_NAME"), $(uname -r)
libjpeg-turbo $(dpkg-query -W -f='${Version}' libjpeg62-turbo), ImageMagick $(dpkg-query -W -f='${Version}' imagemagick)
Corpus: $count photos, $((corpus_bytes / 1048576)) MiB, ${megapixels_min} to ${megapixels_max} megapixels; largest decoded photo $((largest_bytes / 1048576)) MiB
Runs: $runs of each; load average before $load_before, after $load_after

| command | median s | min–max s | CPU s (median) | peak MiB |
|---|---:|---:|---:|---:|
| zenfo-make --link created --jobs 1 | $z1 | $z1min–$z1max | $z1cpu | $z1mem |
| zenfo-make --link created --jobs $jobs | $zn | $znmin–$znmax | $zncpu | $znmem |
| djpeg -dct float -outfile /dev/null, each photo | $dj | $djmin–$djmax | $djcpu | $djmem |
| ImageMagick convert, 128 and 512 copies with -sample, each photo | $im | $immin–$immax | $imcpu | $immem |

| ratio | value | target | |
|---|---:|---:|---|
| zenfo --jobs 1 / djpeg | $(ratio "$z1" "$dj") | ≤ 1.15 | $(verdict "$(ratio "$z1" "$dj")" 1.15 le) |
| zenfo --jobs $jobs / djpeg | $(ratio "$zn" "$dj") | ≤ 0.65 | $(verdict "$(ratio "$zn" "$dj")" 0.65 le) |
| ImageMagick / zenfo --jobs $jobs | $(ratio "$im" "$zn") | ≥ 3 | $(verdict "$(ratio "$im" "$zn")" 3 ge) |
| zenfo --jobs 1 peak MiB | $z1mem | ≤ $(limit_mib 1) | $(verdict "$z1mem" "$(limit_mib 1)" le) |
| zenfo --jobs $jobs peak MiB | $znmem | ≤ $(limit_mib "$jobs") | $(verdict "$znmem" "$(limit_mib "$jobs")" le) |
EOF
