#!/usr/bin/env bash
# Times dropgroup removing one group from active and newsgroups against the
# one-liner an administrator might use instead: grep -v of the group's lines
# into a new file, then mv over the old one, for both files. Both start from
# the same files in the same run, take turns, and must leave the same files
# behind. Each also runs once more under time(1) for its peak memory.
#
# Usage: bench/dropgroup_bench.sh [path of the test build of dropgroup]
# Without a path, the test build is looked for under build/*/test-bin,
# preferring a Release tree (build/*-rel or build/bench). Build one with:
#   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/bench --target dropgroup_testbuild
# SIZES (default "10 1000000") lists the numbers of groups to try, RUNS
# (default 5) how many times each command runs; the best time counts.
# FORMAT=tsv prints one line per size instead of the report: lines,
# dropgroup seconds, baseline seconds, dropgroup and baseline peak KiB, and
# the seconds of the baseline with sync (or "-").
set -eu
cd "$(dirname "$0")/.."

sizes=${SIZES:-10 1000000}
runs=${RUNS:-5}
format=${FORMAT:-report}

. bench/find_test_build.sh
program=${1:-$(find_test_build dropgroup)}
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

# The test build works on kestro/ below the folder it runs in. Run as root it
# switches to the news account, which must own that folder.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/dropgroup-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
mkdir -m 755 "$scratch/kestro" "$scratch/pristine"
if [ "$(id -u)" = 0 ] && id news >/dev/null 2>&1; then
    chown news: "$scratch/kestro"
fi

# Wall clock in seconds, with microseconds.
now() {
    echo "${EPOCHREALTIME/,/.}"
}

# peak_kib COMMAND...: its peak resident memory in KiB.
. bench/peak_kib.sh

# active and newsgroups of the given number of groups in normal form, so
# that dropgroup copies every kept line byte for byte, as grep -v does.
make_files() {
    LC_ALL=C awk -v lines="$1" -v dir="$scratch/pristine" 'BEGIN {
        nh = split("comp sci rec news misc alt soc talk de fr", hier, " ")
        for (i = 0; i < lines; i++) {
            name = hier[i % nh + 1] ".group" i ".misc"
            printf "%s %d %d y\n", name, 1000 + i * 7 % 900000, 1 + i % 1000 > (dir "/active")
            printf "%s\tDiscussion of topic number %d.\n", name, i > (dir "/newsgroups")
        }
    }'
}

# Puts fresh copies of the two files in place, owned as the program needs.
reset_files() {
    cp "$scratch/pristine/active" "$scratch/pristine/newsgroups" "$scratch/kestro/"
    if [ "$(id -u)" = 0 ] && id news >/dev/null 2>&1; then
        chown news: "$scratch/kestro/active" "$scratch/kestro/newsgroups"
    fi
}

# The administrator's one-liner, for both files, run in kestro/ with the
# group name, its dots escaped, as its argument: typed at a shell prompt, it
# starts only grep and mv.
one_liner='grep -v "^$1 " active > active.new && mv active.new active &&
grep -v "^$1	" newsgroups > newsgroups.new && mv newsgroups.new newsgroups'

# The same, made as durable as dropgroup: each new file flushed to disk
# before its mv, and the directory after it. It needs a sync(1) that takes
# file names (GNU coreutils); elsewhere this column is left out.
synced_one_liner='grep -v "^$1 " active > active.new && sync active.new &&
mv active.new active && sync . &&
grep -v "^$1	" newsgroups > newsgroups.new && sync newsgroups.new &&
mv newsgroups.new newsgroups && sync .'
synced=no
if sync --version 2>/dev/null | grep -q coreutils; then
    synced=yes
fi

# Runs the one-liner in the current shell, as it would be typed.
baseline() {
    cd kestro && set -- "$1" && eval "$one_liner"
}

# Runs the durable one-liner in the current shell.
synced_baseline() {
    cd kestro && set -- "$1" && eval "$synced_one_liner"
}

# Runs a command in the scratch folder on fresh files; prints its wall time.
timed_run() {
    local start end
    reset_files
    start=$(now)
    (cd "$scratch" && "$@")
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

# The smaller of two numbers.
least() {
    awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'
}

if [ "$format" = report ]; then
    echo "program:  $program"
    echo "scratch:  $scratch ($(df -P "$scratch" | awk 'NR == 2 { print $1 }'))"
    echo "runs:     best of $runs; peak memory from one more run under time(1)"
    printf '%10s  %12s  %14s  %7s  %12s  %14s  %19s\n' groups "dropgroup s" "grep -v+mv s" \
        ratio "dropgroup KiB" "grep -v+mv KiB" "grep -v+sync+mv s"
fi
for lines in $sizes; do
    make_files "$lines"
    group="misc.group$((lines / 2 - (lines / 2) % 10 + 4)).misc"
    pattern=${group//./\\.}
    ours=
    theirs=
    durable=
    for ((i = 0; i < runs; i++)); do
        ours=$(least "$ours" "$(timed_run "$program" "$group")")
        cp "$scratch/kestro/active" "$scratch/active.ours"
        cp "$scratch/kestro/newsgroups" "$scratch/newsgroups.ours"
        if [ "$synced" = yes ]; then
            durable=$(least "$durable" "$(timed_run synced_baseline "$pattern")")
        fi
        theirs=$(least "$theirs" "$(timed_run baseline "$pattern")")
    done
    durable=${durable:--}
    if ! cmp -s "$scratch/active.ours" "$scratch/kestro/active" ||
        ! cmp -s "$scratch/newsgroups.ours" "$scratch/kestro/newsgroups" ||
        [ "$(wc -l < "$scratch/kestro/active")" -ne $((lines - 1)) ]; then
        echo "$0: dropgroup and grep -v left different files for $group" >&2
        exit 1
    fi
    reset_files
    our_peak=$(cd "$scratch" && peak_kib "$program" "$group")
    reset_files
    their_peak=$(cd "$scratch/kestro" && peak_kib sh -c "$one_liner" sh "$pattern")
    if [ "$format" = tsv ]; then
        printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$lines" "$ours" "$theirs" "$our_peak" "$their_peak" \
            "$durable"
    else
        awk -v n="$lines" -v a="$ours" -v b="$theirs" -v pa="$our_peak" -v pb="$their_peak" \
            -v d="$durable" 'BEGIN {
                printf "%10d  %12.4f  %14.4f  %7.2f  %12d  %14d  %19s\n", n, a, b, a / b, pa, pb,
                       d == "-" ? d : sprintf("%.4f", d)
            }'
    fi
done
