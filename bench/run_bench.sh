#!/bin/sh
# The translator's benchmark: make bench, or sh bench/run_bench.sh BUILD.
# Generates its inputs under build/bench (never committed) and prints, for
# each translation, its time as a ratio to "cat file > copy" of the same
# file: runs of the two alternate, and each pair gives one ratio, so that
# the load of other work on the machine falls on both alike; the median of
# the ratios is the figure, their range the noise. Peak memory is the
# largest of the runs'.
# BENCH_MB (512) sizes the program files, BENCH_PAIRS (7) the pairs per row,
# BENCH_BIG_GB (5) the file that shows that memory stays flat.
set -eu

build=${1:?usage: run_bench.sh BUILD}
tool=$build/vorlang
inputs=$build/bench/bench_inputs
window=$build/bench/window_run
work=build/bench
size_mb=${BENCH_MB:-512}
pairs=${BENCH_PAIRS:-7}
big_gb=${BENCH_BIG_GB:-5}
mkdir -p "$work"

# The program, its copies and the big file's copy all lie on disk at once.
need_kb=$(( (size_mb * 8 + big_gb * 1024 + 512) * 1024 ))
avail_kb=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$avail_kb" -lt "$need_kb" ]; then
    echo "bench: needs $((need_kb / 1024)) MB free in $work, has $((avail_kb / 1024)) MB" >&2
    exit 1
fi

prog=$work/prog.exe
bytes=$((size_mb * 1048576))
if [ ! -f "$prog" ] || [ "$(stat -c %s "$prog")" -ne "$bytes" ]; then
    echo "making $prog: ELF files under /usr in name order, $size_mb MiB" >&2
    find /usr/bin /usr/sbin /usr/lib /usr/libexec -type f -size +16k 2>/dev/null | LC_ALL=C sort |
        "$inputs" program "$bytes" "$prog"
fi
wide=$work/wide.exe
if [ ! -f "$wide" ] || [ "$(stat -c %s "$wide")" -ne "$bytes" ]; then
    echo "making $wide: the program with UTF-16 copies of its texts" >&2
    "$inputs" wide "$prog" "$bytes" "$wide"
fi
[ -f "$work/dict10k.txt" ] || "$inputs" dictionary "$prog" 10000 "$work/dict10k.txt"
dense=$work/dense.exe
if [ ! -f "$dense" ] || [ "$(stat -c %s "$dense")" -ne "$bytes" ]; then
    echo "making $dense: the program's first half, then UTF-16 texts back to back, half of them originals" >&2
    "$inputs" dense "$prog" "$work/dict10k.txt" "$bytes" "$dense"
fi
# The English texts of a Windows program's resources, each translated
# longer than it is: grown_dictionary PROGRAM DICTIONARY.
grown_dictionary() {
    "$build/vorlang-extract" -g -l 0409 -p "$1" 2> /dev/null |
        awk '!/^!#/ && length($0) > 2 {
            q = substr($0, 1, (length($0) - 1) / 2)
            if (q !~ /^"/) q = "\"" q "\""
            print q " " substr(q, 1, length(q) - 1) " (nl)\""
        }' > "$2"
}
# A large Windows program and such a dictionary.
winprog=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll
win=""
if [ -f "$winprog" ]; then
    win=$work/shell32.exe
    [ -f "$win" ] || cp "$winprog" "$win"
    if [ ! -s "$work/shell32_nl.txt" ]; then
        grown_dictionary "$work/shell32" "$work/shell32_nl.txt"
    fi
fi
# A Windows program of 100 MB and more, built here by mingw-w64: every kind
# of resource that holds texts, and 100 MB of data in one more resource (as
# an installer carries its payload).
rc_dir=$(cd "$(dirname "$0")/.." && pwd)/tests/resources
big=""
if command -v x86_64-w64-mingw32-gcc > /dev/null && command -v x86_64-w64-mingw32-windres > /dev/null; then
    big=$work/bigwin.exe
    if [ ! -s "$big" ]; then
        echo "making $big: a Windows program with a 100 MB resource" >&2
        head -c 100000000 /dev/urandom > "$work/payload.bin"
        printf '#include "samples.rc"\n2 RCDATA "%s"\n' "$work/payload.bin" > "$work/bigwin.rc"
        x86_64-w64-mingw32-windres -I "$rc_dir" "$work/bigwin.rc" -O coff -o "$work/bigwin_res.o" &&
            x86_64-w64-mingw32-gcc -s -mwindows -o "$big" "$rc_dir/tiny_win.c" "$work/bigwin_res.o" || big=""
        rm -f "$work/payload.bin" "$work/bigwin_res.o"
    fi
    if [ -n "$big" ] && [ ! -s "$work/bigwin_nl.txt" ]; then
        grown_dictionary "$work/bigwin" "$work/bigwin_nl.txt"
    fi
fi
[ -f "$work/dict200k.txt" ] || "$inputs" synthetic 200000 "$work/dict200k.txt"
head -n 100 "$work/dict10k.txt" > "$work/dict100.txt"
head -n 1000 "$work/dict10k.txt" > "$work/dict1000.txt"
head -c 4194304 "$prog" > "$work/slice.exe"
printf 'tiny\0' > "$work/tiny.exe"
cat "$prog" "$wide" "$dense" > /dev/null  # into the page cache, as for every run after it

stats=$work/stats
rows=$work/rows
: > "$rows"

# measure NAME MB RUNS COMMAND...: the fastest of RUNS runs and the largest
# peak memory, one row of the table.
measure() {
    name=$1 mb=$2 runs=$3
    shift 3
    best=0 rss=0 i=0 cpu=0
    while [ "$i" -lt "$runs" ]; do
        rm -f "$work"/*_t.exe "$work/copy"
        sync  # the writeback of earlier runs would otherwise slow this one
        t0=$(date +%s%N)
        /usr/bin/time -f '%M %U %S' -o "$stats" "$@" > "$work/last.out"
        t1=$(date +%s%N)
        ns=$((t1 - t0))
        if [ "$best" -eq 0 ] || [ "$ns" -lt "$best" ]; then
            best=$ns
            cpu=$(tail -n 1 "$stats" | awk '{ print $2 + $3 }')
        fi
        kb=$(tail -n 1 "$stats" | awk '{ print $1 }')
        if [ "$kb" -gt "$rss" ]; then rss=$kb; fi
        i=$((i + 1))
    done
    echo "$name|$mb|$best|$rss|$cpu" >> "$rows"
}

# timed STATS COMMAND...: runs the command after the writeback of earlier
# runs (which would otherwise slow it), with its output dropped; prints its
# nanoseconds.
timed() {
    out=$1
    shift
    rm -f "$work"/*_t.exe "$work/copy"
    sync
    t0=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$out" "$@" > "$work/last.out"
    t1=$(date +%s%N)
    echo $((t1 - t0))
}

# paired NAME FILE COMMAND...: BENCH_PAIRS pairs of "cat FILE > copy" and
# the command, one row of the ratio table.
paired() {
    name=$1 file=$2
    shift 2
    : > "$work/pairs"
    rss=0 i=0
    while [ "$i" -lt "$pairs" ]; do
        c=$(timed "$stats.cat" sh -c 'cat "$1" > "$2"' sh "$file" "$work/copy")
        t=$(timed "$stats" "$@")
        kb=$(tail -n 1 "$stats")
        if [ "$kb" -gt "$rss" ]; then rss=$kb; fi
        echo "$c $t" >> "$work/pairs"
        i=$((i + 1))
    done
    mb=$(stat -c %s "$file" | awk '{ printf "%.1f", $1 / 1048576 }')
    awk -v name="$name" -v mb="$mb" -v rss="$rss" '
        { c[NR] = $1; t[NR] = $2; r[NR] = $2 / $1 }
        function median(a, n,    i, j, x) {
            for (i = 2; i <= n; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
            return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
        }
        END {
            mr = median(r, NR); lo = r[1]; hi = r[NR]
            printf "%s|%s|%.3f|%.3f|%.2f|%.2f|%.2f|%.1f\n", name, mb, median(c, NR) / 1e9, median(t, NR) / 1e9, mr, lo, hi, rss / 1024
        }' "$work/pairs" >> "$ratios"
}

ratios=$work/ratios
: > "$ratios"
paired "level 0, 10000 entries" "$prog" "$tool" -p "$work/prog" -d "$work/dict10k"
paired "-r, 10000 entries" "$prog" "$tool" -p "$work/prog" -d "$work/dict10k" -r
paired "-R, 10000 entries" "$prog" "$tool" -p "$work/prog" -d "$work/dict10k" -R
paired "-u level 0, wide-rich file" "$wide" "$tool" -u -p "$work/wide" -d "$work/dict10k"
paired "-u level 3, wide-rich file" "$wide" "$tool" -u -R -p "$work/wide" -d "$work/dict10k"
paired "-u level 0, dense wide file" "$dense" "$tool" -u -p "$work/dense" -d "$work/dict10k"
if [ -n "$win" ] && [ -s "$work/shell32_nl.txt" ]; then
    paired "-g, shell32.dll ($(grep -c . "$work/shell32_nl.txt") entries)" "$win" "$tool" -g -p "$work/shell32" -d "$work/shell32_nl"
    tr '\r' '\n' < "$work/last.out" | grep -q '^Translated' || echo "bench: vorlang -g on shell32.dll gave no report" >&2
else
    gskip="-g row skipped: no $winprog"
fi
if [ -n "$big" ] && [ -s "$work/bigwin_nl.txt" ]; then
    paired "-g, 100 MB mingw program ($(grep -c . "$work/bigwin_nl.txt") entries)" "$big" "$tool" -g -p "$work/bigwin" -d "$work/bigwin_nl"
else
    gskip="${gskip:+$gskip; }-g row of a 100 MB program skipped: no x86_64-w64-mingw32-gcc and -windres"
fi

mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
measure "cat file > copy" "$mb" 5 sh -c 'cat "$1" > "$2"' sh "$prog" "$work/copy"
measure "vorlang level 0, 10000 entries" "$mb" 5 "$tool" -p "$work/prog" -d "$work/dict10k"
measure "window, 100 entries (4 MB slice)" 4 1 "$window" "$work/dict100.txt" "$work/slice.exe" "$work/window.out" 0
measure "window, 1000 entries (4 MB slice)" 4 1 "$window" "$work/dict1000.txt" "$work/slice.exe" "$work/window.out" 0
# The same output and counts as the window, on the slice with 1000 entries.
counts() { tr '\r' '\n' | sed -n '/^Translated:/,/^[A-Z]/p' | grep 'x  '; }
counts < "$work/last.out" > "$work/window.counts"
"$tool" -p "$work/slice" -d "$work/dict1000" | counts > "$work/slice.counts"
if cmp -s "$work/window.out" "$work/slice_t.exe" && cmp -s "$work/window.counts" "$work/slice.counts"; then
    same="slice with 1000 entries: output and counts equal to the window's ($(grep -vc '^0x' "$work/slice.counts") entries applied)"
else
    same="slice with 1000 entries: DIFFERS from the window"
fi
dict_mb=$(stat -c %s "$work/dict200k.txt" | awk '{ printf "%.1f", $1 / 1048576 }')
measure "read and check 200000 lines" "$dict_mb" 3 "$tool" -c -p "$work/tiny" -d "$work/dict200k"

# The big file: the program at its start and its end, zeros (sparse) between.
big=$work/big.exe
rm -f "$big"
truncate -s "${big_gb}G" "$big"
dd if="$prog" of="$big" conv=notrunc status=none
dd if="$prog" of="$big" conv=notrunc status=none bs=1M seek=$((big_gb * 1024 - size_mb))
measure "vorlang level 3, ${big_gb} GiB file" "$((big_gb * 1024))" 1 "$tool" -p "$work/big" -d "$work/dict10k" -R
rm -f "$big" "$work/big_t.exe" "$work/copy" "$work"/*_t.exe

echo
echo "$(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg); $pairs pairs of cat and vorlang per row, alternating; MB = MiB"
echo "x cat: the median of the pairs' ratios; range: the lowest and highest ratio (the noise); seconds: medians"
printf '%-38s %8s %8s %8s %8s %13s %10s\n' "vorlang" MB "cat s" "run s" "x cat" range "peak MiB"
awk -F'|' '{ printf "%-38s %8.1f %8.3f %8.3f %7.2f x %6.2f-%-6.2f %10.1f\n", $1, $2, $3, $4, $5, $6, $7, $8 }' "$ratios"
if [ -n "${gskip:-}" ]; then echo "$gskip"; fi
echo
echo "best of the runs; cpu = user + system seconds"
printf '%-38s %8s %9s %10s %11s %8s %10s\n' measurement MB seconds MB/s "x cat" cpu "peak MiB"
awk -F'|' '
    NR == 1 { base = ($3 / 1e9) / $2 }
    { s = $3 / 1e9; per = s / $2; rate[NR] = $2 / s; name[NR] = $1
      printf "%-38s %8.1f %9.3f %10.2f %9.2f x %8.2f %10.1f\n", $1, $2, s, $2 / s, per / base, $5, $4 / 1024 }
    END {
      for (i = 1; i <= NR; i++) if (name[i] ~ /^window, 1000/) w = rate[i]
      for (i = 1; i <= NR; i++) if (name[i] ~ /^vorlang (-u )?level/) printf "%-38s %.0f x the window with 1000 entries\n", name[i], rate[i] / w
    }' "$rows"

echo "$same"
case $same in *DIFFERS*) exit 1 ;; esac
