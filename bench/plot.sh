#!/usr/bin/env bash
# Runs the benchmarks whose cost grows with the work and plots it, each
# program beside its baselines of the same run (hyperfine medians, with the
# fastest and slowest run as error bars):
#   docs/bench/feedgroups.png  wall time against the lines of active
#                              (10,000 to 1,000,000): feedgroups, grep -E
#                              and cat;
#   docs/bench/dropgroup.png   the same for dropgroup and the durable and
#                              unsafe one-liners (as many lines in
#                              newsgroups);
#   docs/bench/feedqueue.png   wall time against the articles of one run
#                              (1,000 to 30,000): feedqueue and the
#                              safe-append floor;
#   docs/bench/stars.png       match time against the number of stars in
#                              the pattern, the library's matcher beside the
#                              plain recursive one that the matcher tests keep.
# The figures go to docs/bench/*.tsv first; "bench/plot.sh --plot-only"
# draws the plots again from those files.
#
# It runs the Release build in build/bench; build it first with:
#   cmake --preset bench
#   cmake --build build/bench --target dropgroup_testbuild feedgroups_testbuild \
#       feedqueue_testbuild match_bench
# It needs hyperfine and gnuplot (apt-get install hyperfine gnuplot-nox;
# pkg install hyperfine gnuplot-lite). SIZES and ARTICLE_SIZES change the
# numbers of lines and of articles, RUNS the timed runs per command.
set -eu
cd "$(dirname "$0")/.."

out=docs/bench
build=build/bench
sizes=${SIZES:-10000 30000 100000 300000 1000000}
article_sizes=${ARTICLE_SIZES:-1000 3000 10000 30000}
runs=${RUNS:-10}

if ! command -v gnuplot >/dev/null 2>&1; then
    echo "$0: gnuplot is needed" >&2
    exit 1
fi
mkdir -p "$out"

# Checks that the programs of the Release build are there.
need_build() {
    local file
    for file in test-bin/dropgroup test-bin/feedgroups test-bin/feedqueue bench/match_bench; do
        if [ ! -x "$build/$file" ]; then
            echo "$0: no $build/$file; build it first (see the top of $0)" >&2
            exit 1
        fi
    done
}

# measure NAME HEADER SCRIPT SIZES: runs bench/SCRIPT in its tsv form over
# the sizes into docs/bench/NAME.tsv, under a heading of the runs and the
# column names.
measure() {
    {
        printf '# median, fastest and slowest of %s runs, in seconds (hyperfine)\n' "$runs"
        printf '%s\n' "$2"
        SIZES=$4 RUNS=$runs FORMAT=tsv "bench/$3" "$build/test-bin/$1"
    } > "$out/$1.tsv.new"
    mv "$out/$1.tsv.new" "$out/$1.tsv"
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

# three_series NAME COLOUR TITLE XLABEL PROGRAM BASELINE OTHER: the gnuplot
# commands for docs/bench/NAME.png, from the medians, fastest and slowest
# runs of the program and its two baselines in docs/bench/NAME.tsv.
three_series() {
    cat <<EOF
set output "$out/$1.png"
set title "$3 (median of ${runs_shown:-?} runs, fastest to slowest as bars)"
set xlabel "$4"
plot "$out/$1.tsv" using 1:2:(lo(\$2, \$3)):4 with yerrorlines lw 2 pt 7 lc rgb "$2" title "$5", \\
     "" using 1:5:(lo(\$5, \$6)):7 with yerrorlines lw 2 pt 6 dt 2 lc rgb "#7f8c8d" title "$6", \\
     "" using 1:8:(lo(\$8, \$9)):10 with yerrorlines lw 2 pt 4 dt 3 lc rgb "#2c3e50" title "$7"
EOF
}

plot() {
    local runs_shown
    runs_shown=$(sed -n 's/^# median, fastest and slowest of \([0-9]*\) runs.*/\1/p' "$out/feedgroups.tsv")
    {
        cat <<EOF
set terminal pngcairo size 900,560 font ",11" noenhanced
set grid
set key top left Left reverse
set logscale xy
set autoscale xfix
set offsets graph 0.03, graph 0.03, 0, 0
set ylabel "seconds (log scale)"
set yrange [0.001:*]
set format x "%.0s%c"
set bars small
# A fastest run taken as 0 s (hyperfine takes off the shell's start-up)
# has no place on a log scale: its bar starts at the median instead.
lo(median, fastest) = fastest > 0 ? fastest : median
EOF
        three_series feedgroups "#c0392b" "feedgroups: wall time against the size of active" \
            "lines in active" "feedgroups, 10 patterns, to a file" \
            "LC_ALL=C grep -E, same selection, to a file" "cat active > file (floor)"
        three_series dropgroup "#1f60b4" "dropgroup: wall time against the size of the files" \
            "lines in active, and in newsgroups" "dropgroup (lock, fsync, rename, directory fsync)" \
            "grep -v > new; sync new; mv; sync . (durable)" \
            "grep -v > new; mv (unsafe: no sync, no lock)"
        three_series feedqueue "#27ae60" "feedqueue: wall time against the articles of one run" \
            "articles, each matching the last of 200 rules" feedqueue \
            "safe-append floor (C: open, flock, fstat, stat, pread, write, close)" \
            "launch only: sh, exec true with the same arguments"
        cat <<EOF
set output "$out/stars.png"
set title "CPU time of one failing match against the number of stars (24-byte name)"
set xlabel "stars in the pattern (*a repeated, then b)"
set ylabel "microseconds per match (log scale)"
unset logscale x
set format x "%g"
set xtics 1
set yrange [0.05:*]
set offsets 0, 0, 0, 0
plot "$out/stars.tsv" using 1:2 with linespoints lw 2 pt 7 lc rgb "#1f60b4" \\
         title "library matcher", \\
     "" using 1:3 with linespoints lw 2 pt 6 dt 2 lc rgb "#c0392b" title "recursive reference"
EOF
    } | gnuplot
}

if [ "${1:-}" != --plot-only ]; then
    need_build
    tab=$'\t'
    measure feedgroups "# lines${tab}feedgroups${tab}min${tab}max${tab}grep_E${tab}min${tab}max${tab}cat${tab}min${tab}max" \
        feedgroups_bench.sh "$sizes"
    measure dropgroup "# lines${tab}dropgroup${tab}min${tab}max${tab}durable${tab}min${tab}max${tab}unsafe${tab}min${tab}max" \
        dropgroup_bench.sh "$sizes"
    measure feedqueue "# articles${tab}feedqueue${tab}min${tab}max${tab}floor${tab}min${tab}max${tab}launch${tab}min${tab}max" \
        feedqueue_bench.sh "$article_sizes"
    measure_stars > "$out/stars.tsv.new"
    mv "$out/stars.tsv.new" "$out/stars.tsv"
fi
plot
echo "plots: $out/feedgroups.png $out/dropgroup.png $out/feedqueue.png $out/stars.png"
