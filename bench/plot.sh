#!/usr/bin/env bash
# Runs the benchmarks whose cost grows with the work and plots it:
#   docs/bench/lines.png  wall time against the number of active lines
#                         (10,000 to 1,000,000) for feedgroups and grep -E,
#                         dropgroup and grep -v plus mv;
#   docs/bench/stars.png  match time against the number of stars in the
#                         pattern, the library's matcher beside the plain
#                         recursive one that the matcher tests keep.
# The figures go to docs/bench/lines.tsv and docs/bench/stars.tsv first;
# "bench/plot.sh --plot-only" draws the plots again from those files.
#
# It builds what it runs in build/bench (Release, with the benchmarks) and
# needs gnuplot (apt-get install gnuplot-nox; pkg install gnuplot-lite).
# SIZES and RUNS change the numbers of lines and the runs per size.
set -eu
cd "$(dirname "$0")/.."

out=docs/bench
build=build/bench
sizes=${SIZES:-10000 30000 100000 300000 1000000}
runs=${RUNS:-9}
jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)

if ! command -v gnuplot >/dev/null 2>&1; then
    echo "$0: gnuplot is needed" >&2
    exit 1
fi
mkdir -p "$out"

# Builds the test builds of the programs and the matcher benchmark.
build_all() {
    {
        cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTRO_BUILD_BENCH=ON &&
            cmake --build "$build" -j "$jobs" --target dropgroup_testbuild \
                feedgroups_testbuild feedqueue_testbuild match_bench
    } > "$build.log" 2>&1 || { cat "$build.log" >&2; exit 1; }
}

# One line per size: lines, feedgroups s, grep -E s, dropgroup s, grep -v+mv s.
measure_lines() {
    local n fg ge
    declare -A dropgroup grepv
    while IFS=$'\t' read -r n ours theirs _; do
        dropgroup[$n]=$ours
        grepv[$n]=$theirs
    done < <(SIZES="$sizes" RUNS=$runs FORMAT=tsv bench/dropgroup_bench.sh "$build/test-bin/dropgroup")
    printf '# best of %s runs\n' "$runs"
    printf '# lines\tfeedgroups_s\tgrep_E_s\tdropgroup_s\tgrep_v_mv_s\n'
    for n in $sizes; do
        report=$(LINES=$n RUNS=$runs bench/feedgroups_bench.sh "$build/test-bin/feedgroups")
        fg=$(echo "$report" | sed -n 's/^feedgroups: *\([0-9.]*\) s.*/\1/p')
        ge=$(echo "$report" | sed -n 's/^grep -E: *\([0-9.]*\) s.*/\1/p')
        printf '%s\t%s\t%s\t%s\t%s\n' "$n" "$fg" "$ge" "${dropgroup[$n]}" "${grepv[$n]}"
    done
}

# One line per number of stars: stars, and the CPU time per match in
# microseconds of the library matcher and of the reference.
measure_stars() {
    printf '# stars\tlibrary_us\treference_us\n'
    "$build/bench/match_bench" --benchmark_filter='^BM_Stars' --benchmark_format=csv 2>/dev/null |
        awk -F, '/^"BM_Stars/ {
            split($1, part, /[\/:"]/)
            kind = part[2]; stars = part[4]
            time[kind, stars] = $4
            if (stars > most) most = stars
        }
        END {
            for (k = 1; k <= most; k++)
                printf "%d\t%s\t%s\n", k, time["BM_StarsLibrary", k], time["BM_StarsReference", k]
        }'
}

plot() {
    local best
    best=$(sed -n 's/^# best of \([0-9]*\) runs$/\1/p' "$out/lines.tsv")
    gnuplot <<EOF
set terminal pngcairo size 900,560 font ",11"
set grid
set key top left
set logscale xy

set output "$out/lines.png"
set title "Wall time against the size of active (best of ${best:-?} runs, Release build)"
set xlabel "lines in active (and newsgroups, for dropgroup)"
set ylabel "seconds (log scale)"
set format x "%.0s%c"
plot "$out/lines.tsv" using 1:4 with linespoints lw 2 pt 7 lc rgb "#1f60b4" \
         title "dropgroup (fsync, rename)", \
     "" using 1:5 with linespoints lw 2 pt 6 dt 2 lc rgb "#1f60b4" \
         title "grep -v > new; mv (no fsync)", \
     "" using 1:2 with linespoints lw 2 pt 5 lc rgb "#c0392b" title "feedgroups, 10 patterns", \
     "" using 1:3 with linespoints lw 2 pt 4 dt 2 lc rgb "#c0392b" \
         title "grep -E, same selection"

set output "$out/stars.png"
set title "CPU time of one failing match against the number of stars (24-byte name)"
set xlabel "stars in the pattern (*a repeated, then b)"
set ylabel "microseconds per match (log scale)"
unset logscale x
set format x "%g"
set xtics 1
set yrange [0.05:*]
plot "$out/stars.tsv" using 1:2 with linespoints lw 2 pt 7 lc rgb "#1f60b4" \
         title "library matcher", \
     "" using 1:3 with linespoints lw 2 pt 6 dt 2 lc rgb "#c0392b" title "recursive reference"
EOF
}

if [ "${1:-}" != --plot-only ]; then
    build_all
    measure_lines > "$out/lines.tsv.new"
    mv "$out/lines.tsv.new" "$out/lines.tsv"
    measure_stars > "$out/stars.tsv.new"
    mv "$out/stars.tsv.new" "$out/stars.tsv"
fi
plot
echo "plots: $out/lines.png $out/stars.png"
