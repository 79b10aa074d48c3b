#!/bin/sh
# Times feedgroups listing a feed of 10 patterns over a large active file
# against grep -E given the equivalent regular expression, on the same file
# in the same run, and checks that both print the same lines.
#
# Usage: bench/feedgroups_bench.sh [path of the test build of feedgroups]
# Without a path, the test build is looked for under build/*/test-bin,
# preferring a Release tree (build/*-rel). Build one with:
#   cmake -S . -B build/NAME-rel -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/NAME-rel --target feedgroups_testbuild
# LINES (default 1000000) sets the size of active, RUNS (default 5) how many
# times each command runs; the best time of each counts.
set -eu
cd "$(dirname "$0")/.."

lines=${LINES:-1000000}
runs=${RUNS:-5}

. bench/find_test_build.sh
program=${1:-$(find_test_build feedgroups)}
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

# The test build reads kestro/ below the folder it runs in. Run as root it
# switches to the news account, which must be able to read the files.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/feedgroups-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
mkdir -m 755 "$scratch/kestro"

# A realistic group list: names of two to five parts below the big
# hierarchies, the two article numbers zero-padded as news servers write
# them, and a flag.
LC_ALL=C awk -v lines="$lines" 'BEGIN {
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
regex='^(comp\.lang\.[^ ]*|comp\.os\.linux\.[^ ]*|sci\.physics[^ ]*|rec\.arts\.[^ ]v[^ ]*'
regex="$regex"'|news\.announce\.[^ ]*|de\.comp\.[a-m][^ ]*|alt\.binaries\.[^ ]*\.d|misc\.test'
regex="$regex"'|fr\.[^ ]*\.linux[^ ]*|humanities\.[^ ]*) '
chmod 644 "$scratch/kestro/active" "$scratch/kestro/newsfeeds"

# Wall clock in nanoseconds; the date of FreeBSD has no %N, GNU date
# (gdate there) does.
date_command=date
case $(date +%N) in
*N*) date_command=gdate ;;
esac
now() { "$date_command" +%s%N; }

# Runs a command in the scratch folder with its output to the file given
# first; prints the wall time in nanoseconds.
wall_time() {
    out=$1
    shift
    start=$(now)
    (cd "$scratch" && "$@" > "$out")
    end=$(now)
    echo $((end - start))
}

# The two commands take turns, so that both meet the same load on the
# machine; the best time of each counts.
ours=
theirs=
i=0
while [ "$i" -lt "$runs" ]; do
    t=$(wall_time "$scratch/feedgroups.out" "$program" bench)
    if [ -z "$ours" ] || [ "$t" -lt "$ours" ]; then ours=$t; fi
    t=$(wall_time "$scratch/grep.out" env LC_ALL=C grep -E "$regex" kestro/active)
    if [ -z "$theirs" ] || [ "$t" -lt "$theirs" ]; then theirs=$t; fi
    i=$((i + 1))
done

size=$(wc -c < "$scratch/kestro/active")
selected=$(wc -l < "$scratch/feedgroups.out")
echo "program:    $program"
echo "active:     $lines lines, $size bytes; 10 patterns select $selected lines"
echo "runs:       best of $runs"
awk -v a="$ours" -v b="$theirs" 'BEGIN {
    printf "feedgroups: %.3f s\n", a / 1e9
    printf "grep -E:    %.3f s (LC_ALL=C)\n", b / 1e9
    printf "ratio:      %.2f (feedgroups / grep -E)\n", a / b
}'
if cmp -s "$scratch/feedgroups.out" "$scratch/grep.out"; then
    echo "outputs:    equal"
else
    echo "outputs:    DIFFER" >&2
    exit 1
fi
