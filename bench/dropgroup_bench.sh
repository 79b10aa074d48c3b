#!/bin/sh
# Times dropgroup removing one group from active and newsgroups, with
# hyperfine, beside the one-liner an administrator might use instead, in
# the same run: for each file, grep -v of the group's lines into a new
# file, sync(1) of that file, mv over the old one and sync(1) of the
# directory (the durable one-liner, which survives a crash as dropgroup
# does); and beside it the same without the syncs (the unsafe one). Every
# run starts from the same files, put back by hyperfine's --prepare, which
# also flushes what the previous run left to the disk. The script first
# checks that all three leave the same files behind. Reports wall and CPU
# time (user + system), then the peak memory from /usr/bin/time at each
# size.
#
# Usage: bench/dropgroup_bench.sh [path of the test build of dropgroup]
# Without a path, the test build is looked for under build/*/test-bin,
# preferring build/bench. Build it with:
#   cmake --preset bench && cmake --build build/bench --target dropgroup_testbuild
# SIZES (default "10 1000000") lists the numbers of groups to try; RUNS
# (default 10) and WARMUP (default 2) the timed and untimed runs of each
# command. FORMAT=tsv prints one line per size instead of the report:
# lines, then the median, fastest and slowest seconds of dropgroup, of the
# durable one-liner and of the unsafe one-liner.
# ROUNDS (default 5) spreads the runs over that many calls of hyperfine,
# the order of the commands turning each time.
set -eu
cd "$(dirname "$0")/.."

sizes=${SIZES:-10 1000000}
runs=${RUNS:-10}
warmup=${WARMUP:-2}
rounds=${ROUNDS:-5}
format=${FORMAT:-report}

. bench/find_test_build.sh
. bench/peak_kib.sh
. bench/hyperfine_summary.sh
need_hyperfine
program=${1:-$(find_test_build dropgroup)}
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

# The durable one-liner flushes a file with sync(1) of GNU coreutils, which
# takes file names, or with fsync(1) of FreeBSD.
if sync --version 2>/dev/null | grep -q coreutils; then
    flush=sync
elif command -v fsync >/dev/null 2>&1; then
    flush=fsync
else
    echo "$0: needs sync(1) of GNU coreutils or fsync(1) to flush single files" >&2
    exit 2
fi

# The test build works on kestro/ below the folder it runs in. Run as root it
# switches to the news account, which must own that folder and the files.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/dropgroup-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
mkdir -m 755 "$scratch/kestro" "$scratch/pristine"
as_news=no
if [ "$(id -u)" = 0 ] && id news >/dev/null 2>&1; then
    as_news=yes
    chown news: "$scratch/kestro"
fi

# active and newsgroups of $1 groups in normal form, so that dropgroup
# copies every kept line byte for byte, as grep -v does.
make_files() {
    rm -f "$scratch/pristine/active" "$scratch/pristine/newsgroups"
    LC_ALL=C awk -v lines="$1" -v dir="$scratch/pristine" 'BEGIN {
        nh = split("comp sci rec news misc alt soc talk de fr", hier, " ")
        for (i = 0; i < lines; i++) {
            name = hier[i % nh + 1] ".group" i ".misc"
            printf "%s %d %d y\n", name, 1000 + i * 7 % 900000, 1 + i % 1000 > (dir "/active")
            printf "%s\tDiscussion of topic number %d.\n", name, i > (dir "/newsgroups")
        }
    }'
    chmod 644 "$scratch/pristine/active" "$scratch/pristine/newsgroups"
    if [ "$as_news" = yes ]; then
        chown news: "$scratch/pristine/active" "$scratch/pristine/newsgroups"
    fi
}

# Puts the original files back as hard links to the pristine copies (both
# commands replace the files by rename, so the copies stay untouched and in
# the page cache), removes what a failed run may have left, and writes
# everything dirty out, so that no run pays for the one before it.
prepare='ln -f pristine/active kestro/active && ln -f pristine/newsgroups kestro/newsgroups &&
rm -f kestro/active.new kestro/newsgroups.new && sync'

tab=$(printf '\t')
cd "$scratch"
if [ "$format" = report ]; then
    echo "program:  $program"
    echo "scratch:  $scratch ($(df -P . | awk 'NR == 2 { print $1 }'))"
    describe_runs
    echo "prepare:  $prepare"
fi
first_peak=
for lines in $sizes; do
    make_files "$lines"
    group="misc.group$((lines / 2 - (lines / 2) % 10 + 4)).misc"
    pattern=$(printf '%s' "$group" | sed 's/\./\\./g')
    # The three commands, as hyperfine runs them through sh in the scratch
    # folder. grep's pattern has the dots of the name escaped by hand.
    run_dropgroup="$program $group"
    run_durable="cd kestro && LC_ALL=C grep -v '^$pattern ' active > active.new &&
$flush active.new && mv active.new active && $flush . &&
LC_ALL=C grep -v '^$pattern$tab' newsgroups > newsgroups.new &&
$flush newsgroups.new && mv newsgroups.new newsgroups && $flush ."
    run_unsafe="cd kestro && LC_ALL=C grep -v '^$pattern ' active > active.new &&
mv active.new active &&
LC_ALL=C grep -v '^$pattern$tab' newsgroups > newsgroups.new && mv newsgroups.new newsgroups"

    # All three must leave the same files, one line shorter each.
    sh -c "$prepare" && sh -c "$run_dropgroup"
    cp kestro/active active.dropgroup && cp kestro/newsgroups newsgroups.dropgroup
    if [ "$(wc -l < active.dropgroup)" -ne $((lines - 1)) ] ||
        [ "$(wc -l < newsgroups.dropgroup)" -ne $((lines - 1)) ]; then
        echo "$0: dropgroup did not remove exactly the line of $group" >&2
        exit 1
    fi
    for run in "$run_durable" "$run_unsafe"; do
        sh -c "$prepare" && sh -c "$run"
        if ! cmp -s active.dropgroup kestro/active || ! cmp -s newsgroups.dropgroup kestro/newsgroups
        then
            echo "$0: dropgroup and the one-liner leave different files for $group:" >&2
            echo "$run" >&2
            exit 1
        fi
    done

    printf 'exec %s\n' "$run_dropgroup" > dropgroup.run
    printf '%s\n' "$run_durable" > durable.run
    printf '%s\n' "$run_unsafe" > unsafe.run
    interleaved_hyperfine times.csv "$prepare" dropgroup=dropgroup \
        "durable=durable one-liner (grep -v; sync; mv; sync .)" \
        "unsafe=unsafe one-liner (grep -v; mv)"

    sh -c "$prepare"
    dropgroup_peak=$(peak_kib "$program" "$group")
    sh -c "$prepare"
    durable_peak=$(peak_kib sh -c "$run_durable")
    sh -c "$prepare"
    first_peak=${first_peak:-$dropgroup_peak}
    if [ "$format" = tsv ]; then
        printf '%s\t%s\n' "$lines" "$(hyperfine_tsv times.csv)"
        continue
    fi
    echo
    echo "$lines groups: active $(wc -c < pristine/active) bytes," \
         "newsgroups $(wc -c < pristine/newsgroups) bytes; removing $group; files left equal"
    echo "durable one-liner: $run_durable"
    echo
    summarise_hyperfine times.csv
    echo
    echo "peak resident memory: dropgroup $dropgroup_peak KiB, durable one-liner $durable_peak KiB"
done
if [ "$format" = report ]; then
    echo "dropgroup peak memory, largest size against the first: $(peak_growth "$first_peak" "$dropgroup_peak")"
fi
