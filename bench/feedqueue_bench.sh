#!/bin/sh
# Times feedqueue queueing 10,000 articles in one run over a newsfeeds of
# 200 rules, every article matching only the last rule, with hyperfine,
# beside the floor of a safe append in the same run: bench/append_floor.c,
# compiled here with cc -O2, which is told the queue and, for each line,
# opens the queue (read-write, append, create 0644), takes the exclusive
# flock, checks with fstat and stat that the path still names the locked
# file, reads the last byte, writes the line in one write(2) and closes.
# Both append the same lines in the same order to the same queue file,
# removed before every run by hyperfine's --prepare; the script first
# checks that they leave equal queue files. A third command measures the
# launch that both share (sh reading a one-line script that execs the
# command with its arguments). Then the peak memory of both, from
# /usr/bin/time, at each size.
#
# Usage: bench/feedqueue_bench.sh [path of the test build of feedqueue]
# Without a path, the test build is looked for under build/*/test-bin,
# preferring build/bench. Build it with:
#   cmake --preset bench && cmake --build build/bench --target feedqueue_testbuild
# SIZES (default "10 10000") lists the numbers of articles to try; RUNS
# (default 20) and WARMUP (default 3) the timed and untimed runs of each
# command; CC the C compiler. FORMAT=tsv prints one line per size instead
# of the report: articles, then the median, fastest and slowest seconds of
# feedqueue, of the floor and of the launch alone.
# ROUNDS (default 5) spreads the runs over that many calls of hyperfine,
# the order of the commands turning each time.
set -eu
cd "$(dirname "$0")/.."

sizes=${SIZES:-10 10000}
runs=${RUNS:-20}
warmup=${WARMUP:-3}
rounds=${ROUNDS:-5}
format=${FORMAT:-report}
rules=200

. bench/find_test_build.sh
. bench/peak_kib.sh
. bench/hyperfine_summary.sh
need_hyperfine
program=${1:-$(find_test_build feedqueue)}
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

# The test build works on kestro/ below the folder it runs in. Run as root
# it switches to the news account, which must own the queue directories.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/feedqueue-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
floor=$scratch/append_floor
"${CC:-cc}" -O2 -Wall -Wextra -o "$floor" bench/append_floor.c

# Rules feedN<TAB>hierN.* for N from 0 to 199, and a queue directory for
# each feed: every article walks past 199 rules before its own matches.
mkdir -p "$scratch/kestro/suck"
n=0
while [ "$n" -lt "$rules" ]; do
    printf 'feed%d\thier%d.*\n' "$n" "$n"
    mkdir "$scratch/kestro/suck/feed$n"
    n=$((n + 1))
done > "$scratch/kestro/newsfeeds"
if [ "$(id -u)" = 0 ] && id news >/dev/null 2>&1; then
    chown -R news: "$scratch/kestro"
fi
last=$((rules - 1))
queue=kestro/suck/feed$last/outgoing

# The article paths, "hier199/groupK/I", seven groups in turn.
article_paths() {
    LC_ALL=C awk -v n="$1" -v hier="hier$last" 'BEGIN {
        for (i = 0; i < n; i++)
            printf "%s%s/group%d/%d", i ? " " : "", hier, i % 7, i
    }'
}

cd "$scratch"
if [ "$format" = report ]; then
    echo "program:  $program"
    echo "floor:    $floor (bench/append_floor.c, ${CC:-cc} -O2)"
    echo "scratch:  $scratch ($(df -P . | awk 'NR == 2 { print $1 }'))"
    describe_runs
    echo "prepare:  rm -f $queue"
fi
first_peak=
for articles in $sizes; do
    paths=$(article_paths "$articles")
    # Word splitting of $paths gives the articles as arguments.
    # shellcheck disable=SC2086
    {
        rm -f "$queue" && "$program" $paths && mv "$queue" queue.feedqueue
        rm -f "$queue" && "$floor" "$queue" $paths
    }
    if ! cmp -s queue.feedqueue "$queue" ||
        [ "$(wc -l < "$queue")" -ne "$articles" ]; then
        echo "$0: feedqueue and the floor leave different queue files" >&2
        exit 1
    fi

    # One argument of a command can hold no more than 128 KiB on Linux, too
    # little for hyperfine to be given 10,000 paths: each command is a
    # script of one line that sh reads and replaces itself with the
    # program. The same launch, with true(1) in place of the program,
    # measures what that costs.
    printf "exec '%s' %s\n" "$program" "$paths" > feedqueue.run
    printf "exec '%s' %s %s\n" "$floor" "$queue" "$paths" > floor.run
    printf "exec '%s' %s\n" "$(command -v true)" "$paths" > true.run
    interleaved_hyperfine times.csv "rm -f $queue" feedqueue=feedqueue \
        "floor=safe-append floor (append_floor.c)" "true=launch only (sh; exec true)"

    # shellcheck disable=SC2086
    {
        rm -f "$queue"
        feedqueue_peak=$(peak_kib "$program" $paths)
        rm -f "$queue"
        floor_peak=$(peak_kib "$floor" "$queue" $paths)
    }
    first_peak=${first_peak:-$feedqueue_peak}
    if [ "$format" = tsv ]; then
        printf '%s\t%s\n' "$articles" "$(hyperfine_tsv times.csv)"
        continue
    fi
    echo
    echo "$articles articles of hier$last, $rules rules, all to $queue; queue files equal"
    first=$(printf '%s\n' "$paths" | cut -d ' ' -f 1-2)
    echo "commands: sh feedqueue.run, a script of one line: exec $program $first ..."
    echo "          sh floor.run: exec $floor $queue $first ..."
    echo "          sh true.run:  exec $(command -v true) $first ..."
    echo
    summarise_hyperfine times.csv
    echo
    # The ratios once the launch that both share is taken off, where the
    # floor's own work outweighs the launch enough for them to mean much.
    awk -F, -v n="$articles" '
        NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i; next }
        {
            name[NR] = $column["command"]
            median[NR] = $column["median"]
            cpu[NR] = $column["user"] + $column["system"]
        }
        END {
            for (r = 2; r <= 3; r++)
                printf "%s: %.0f articles/s (median)\n", name[r], n / median[r]
            if (median[3] > 2 * median[4] && cpu[3] > 2 * cpu[4])
                printf "feedqueue / floor, the launch taken off both: wall %.2f, CPU %.2f\n",
                       (median[2] - median[4]) / (median[3] - median[4]),
                       (cpu[2] - cpu[4]) / (cpu[3] - cpu[4])
        }' times.csv
    echo "peak resident memory: feedqueue $feedqueue_peak KiB, floor $floor_peak KiB"
done
if [ "$format" = report ]; then
    echo "feedqueue peak memory, largest size against the first: $(peak_growth "$first_peak" "$feedqueue_peak")"
fi
