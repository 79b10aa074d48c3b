#!/bin/sh
# Times feedgroups listing a feed of 10 patterns over a large active file,
# with hyperfine, beside two baselines in the same run, each writing to a
# file as feedgroups does: grep -E in the C locale with the equivalent
# regular expression (to a file, not /dev/null, where GNU grep stops at
# the first match), and cat of the whole file, the floor of reading it and
# writing it out. The script first checks that feedgroups and grep -E print
# the same lines. Then the peak memory of feedgroups and grep -E, from
# /usr/bin/time, at each size.
#
# Usage: bench/feedgroups_bench.sh [path of the test build of feedgroups]
# Without a path, the test build is looked for under build/*/test-bin,
# preferring build/bench. Build it with:
#   cmake --preset bench && cmake --build build/bench --target feedgroups_testbuild
# SIZES (default "10 1000000") lists the numbers of lines of active to try;
# RUNS (default 20) and WARMUP (default 3) the timed and untimed runs of
# each command. FORMAT=tsv prints one line per size instead of the report:
# lines, then the median, fastest and slowest seconds of feedgroups, of
# grep -E and of cat.
# ROUNDS (default 5) spreads the runs over that many calls of hyperfine,
# the order of the commands turning each time.
set -eu
cd "$(dirname "$0")/.."

sizes=${SIZES:-10 1000000}
runs=${RUNS:-20}
warmup=${WARMUP:-3}
rounds=${ROUNDS:-5}
format=${FORMAT:-report}

. bench/find_test_build.sh
. bench/peak_kib.sh
. bench/hyperfine_summary.sh
need_hyperfine
program=${1:-$(find_test_build feedgroups)}
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

# The test build reads kestro/ below the folder it runs in. Run as root it
# switches to the news account, which must be able to read the files.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/feedgroups-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
mkdir -m 755 "$scratch/kestro"

# A realistic group list of $1 lines: names of two to five parts below the
# big hierarchies, the two article numbers zero-padded as news servers
# write them, and a flag.
make_active() {
    LC_ALL=C awk -v lines="$1" 'BEGIN {
        srand(20261210)
        nh = split("comp sci rec news misc soc talk alt alt.binaries de fr it humanities uk " \
                   "comp.os comp.lang sci.physics rec.arts de.comp fr.comp", hier, " ")
        nw = split("lang os linux unix misc announce questions answers physics math " \
                   "arts music movies tv sf d pictures sounds games sports c cplusplus " \
                   "python perl java admin networking security hardware software " \
                   "databases editors windows mac research particle quantum test " \
                   "discussion binaries multimedia anime comics books writing", word, " ")
        nf = split("y y y y y m n", flag, " ")
        for (i = 0; i < lines; i++) {
            name = hier[int(rand() * nh) + 1]
            parts = 1 + int(rand() * 2)
            for (p = 0; p < parts; p++)
                name = name "." word[int(rand() * nw) + 1]
            if (rand() < 0.5)
                name = name "." word[int(rand() * nw) + 1] int(rand() * 100)
            printf "%s %010d %010d %s\n", name, int(rand() * 9000000), int(rand() * 100000),
                   flag[int(rand() * nf) + 1]
        }
    }' > "$scratch/kestro/active"
    chmod 644 "$scratch/kestro/active"
}

# Ten patterns of one feed, matching disjoint sets of groups, and the same
# selection as one extended regular expression over whole lines: the group
# name runs up to the first blank, and names hold no blank.
cat > "$scratch/kestro/newsfeeds" <<'EOF'
# feed	pattern
other	*
bench	comp.lang.*
bench	comp.os.linux.*
bench	sci.physics*
bench	rec.arts.?v*
bench	news.announce.*
bench	de.comp.[a-m]*
bench	alt.binaries.*.d
bench	misc.test
bench	fr.*.linux*
bench	humanities.*
EOF
chmod 644 "$scratch/kestro/newsfeeds"
regex='^(comp\.lang\.[^ ]*|comp\.os\.linux\.[^ ]*|sci\.physics[^ ]*|rec\.arts\.[^ ]v[^ ]*'
regex="$regex"'|news\.announce\.[^ ]*|de\.comp\.[a-m][^ ]*|alt\.binaries\.[^ ]*\.d|misc\.test'
regex="$regex"'|fr\.[^ ]*\.linux[^ ]*|humanities\.[^ ]*) '

# The three commands, as hyperfine runs them through sh in the scratch folder.
run_feedgroups="$program bench > feedgroups.out"
run_grep="LC_ALL=C grep -E '$regex' kestro/active > grep.out"
run_cat="cat kestro/active > cat.out"

cd "$scratch"
if [ "$format" = report ]; then
    echo "program:  $program"
    echo "scratch:  $scratch ($(df -P . | awk 'NR == 2 { print $1 }'))"
    describe_runs
    echo "commands: feedgroups:  $run_feedgroups"
    echo "          grep -E:     $run_grep"
    echo "          cat (floor): $run_cat"
fi
first_peak=
for lines in $sizes; do
    make_active "$lines"
    # Both must select the same lines; grep exits with 1 when none is.
    sh -c "$run_feedgroups"
    sh -c "$run_grep" || [ $? = 1 ]
    if ! cmp -s feedgroups.out grep.out; then
        echo "$0: feedgroups and grep -E print different lines on $lines lines" >&2
        exit 1
    fi
    printf 'exec %s\n' "$run_feedgroups" > feedgroups.run
    printf 'LC_ALL=C\nexport LC_ALL\nexec %s\n' "${run_grep#LC_ALL=C }" > grep.run
    printf 'exec %s\n' "$run_cat" > cat.run
    interleaved_hyperfine times.csv true feedgroups=feedgroups "grep=grep -E" "cat=cat (floor)"
    feedgroups_peak=$(peak_kib -o feedgroups.out "$program" bench)
    grep_peak=$(peak_kib -o grep.out env LC_ALL=C grep -E "$regex" kestro/active)
    first_peak=${first_peak:-$feedgroups_peak}
    if [ "$format" = tsv ]; then
        printf '%s\t%s\n' "$lines" "$(hyperfine_tsv times.csv)"
        continue
    fi
    echo
    echo "active: $lines lines, $(wc -c < kestro/active) bytes;" \
         "10 patterns select $(wc -l < feedgroups.out) lines; outputs equal"
    echo
    summarise_hyperfine times.csv
    echo
    echo "peak resident memory: feedgroups $feedgroups_peak KiB, grep -E $grep_peak KiB"
done
if [ "$format" = report ]; then
    echo "feedgroups peak memory, largest size against the first: $(peak_growth "$first_peak" "$feedgroups_peak")"
fi
