#!/bin/sh
# Times kestro-check over a generated installation of 50,000 groups (active
# and newsgroups), 36 rules of 8 feeds in newsfeeds and their queues, with
# hyperfine, beside two baselines in the same run: one awk process making
# the checks that awk can make in one pass (the tab of every newsfeeds
# rule line, the form of every active line and the groups on more than one
# line, the tab of every newsgroups line; no routing at all), and cat of
# the three files, the floor of reading them. The installation is clean:
# kestro-check must report nothing. Then the peak memory of kestro-check
# and of the awk baseline, from /usr/bin/time.
#
# Usage: bench/kestro_check_bench.sh [path of the test build of kestro-check]
# Without a path, the test build is looked for under build/*/test-bin,
# preferring build/bench. Build it with:
#   cmake --preset bench && cmake --build build/bench --target kestro-check_testbuild
# GROUP_COUNT (default 50000) sets the size of active; RUNS (default 20) and
# WARMUP (default 3) the timed and untimed runs of each command.
# ROUNDS (default 5) spreads the runs over that many calls of hyperfine,
# the order of the commands turning each time.
set -eu
cd "$(dirname "$0")/.."

groups=${GROUP_COUNT:-50000}
runs=${RUNS:-20}
warmup=${WARMUP:-3}
rounds=${ROUNDS:-5}

. bench/find_test_build.sh
. bench/peak_kib.sh
. bench/hyperfine_summary.sh
need_hyperfine
program=${1:-$(find_test_build kestro-check)}
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

# The test build checks kestro/ below the folder it runs in. Run as root it
# switches to the news account, which must own the files.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kestro-check-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
conf=$scratch/kestro
mkdir -p "$conf/suck"

# Rules: narrow patterns before the broad ones of the same hierarchy, so
# that every rule receives groups.
cat > "$conf/newsfeeds" <<'EOF'
# A generated newsfeeds: 36 rules of 8 feeds.
peer0	comp.lang.[a-m]*
peer1	comp.lang.*
peer0	comp.os.linux.*
peer2	comp.os.*
peer2	comp.*
peer3	sci.physics*
peer3	sci.*
peer4	rec.arts.?v*
peer4	rec.*
peer5	news.announce.*
peer5	news.*
peer6	alt.binaries.*.d
peer7	alt.binaries.*
peer6	alt.*
peer0	de.comp.[a-m]*
peer1	de.*
peer2	fr.*.linux*
peer3	fr.*
peer4	it.*
peer5	uk.*
peer6	humanities.*
peer7	misc.*
peer0	soc.*
peer1	talk.*
peer2	nl.*
peer3	es.*
peer4	japan.*
peer5	aus.*
peer6	can.*
peer7	ba.*
peer0	bit.*
peer1	gnu.*
peer2	microsoft.*
peer3	tw.*
peer4	han.*
peer5	pl.*
EOF

# Groups below those hierarchies and a few that no rule takes, each name
# made unique by its number; the numbers of active as a server writes them;
# a description for every group.
LC_ALL=C awk -v groups="$groups" -v conf="$conf" 'BEGIN {
    srand(20261210)
    nh = split("comp.lang comp.os.linux comp.os comp sci.physics sci rec.arts rec " \
               "news.announce news alt.binaries alt de.comp de fr it uk humanities misc " \
               "soc talk nl es japan aus can ba bit gnu microsoft tw han pl local", hier, " ")
    nw = split("ada c cplusplus lisp python perl java misc linux unix tv sv music " \
               "movies games sports admin networking security hardware software " \
               "databases editors windows mac research particle quantum test " \
               "discussion multimedia anime comics books writing", word, " ")
    nf = split("y y y y y m n", flag, " ")
    for (i = 0; i < groups; i++) {
        name = hier[int(rand() * nh) + 1] "." word[int(rand() * nw) + 1]
        if (rand() < 0.5)
            name = name "." word[int(rand() * nw) + 1]
        name = name i
        if (rand() < 0.2)
            name = name ".d"
        printf "%s %010d %010d %s\n", name, int(rand() * 9000000), int(rand() * 100000),
               flag[int(rand() * nf) + 1] > (conf "/active")
        printf "%s\tDiscussion of %s, number %d.\n", name, name, i > (conf "/newsgroups")
    }
}'
for n in 0 1 2 3 4 5 6 7; do
    mkdir "$conf/suck/peer$n"
    printf 'comp/lang/c/%d\n' 1 2 3 > "$conf/suck/peer$n/outgoing"
done
if [ "$(id -u)" = 0 ] && id news >/dev/null 2>&1; then
    chown -R news: "$scratch"
fi

# The awk baseline, one pass over the three files.
cat > "$scratch/check.awk" <<'EOF'
FILENAME ~ /newsfeeds$/ {
    sub(/#.*/, "")
    if ($0 != "" && index($0, "\t") == 0)
        print FILENAME ":" FNR ": error: no tab"
    next
}
FILENAME ~ /active$/ {
    if ($0 !~ /^[^ ]+ +[0-9]+ +[0-9]+ +[^ ]/)
        print FILENAME ":" FNR ": error: malformed"
    name = substr($0, 1, index($0, " ") - 1)
    if (name in seen)
        print FILENAME ":" FNR ": warning: also on line " seen[name]
    else
        seen[name] = FNR
    next
}
FILENAME ~ /newsgroups$/ {
    if ($0 !~ /^[^\t]+\t/)
        print FILENAME ":" FNR ": error: malformed"
}
EOF

cd "$scratch"
status=0
out=$("$program" 2>&1) || status=$?
if [ "$status" -ne 0 ] || [ -n "$out" ]; then
    printf '%s\n' "$out" | head -n 20 >&2
    echo "$0: kestro-check must find the generated installation clean (status $status)" >&2
    exit 1
fi
awk_out=$(LC_ALL=C awk -f check.awk kestro/newsfeeds kestro/active kestro/newsgroups)
if [ -n "$awk_out" ]; then
    echo "$0: the awk baseline must find the generated installation clean" >&2
    exit 1
fi

echo "program:  $program"
describe_runs
echo "commands: kestro-check:    $program"
echo "          awk line checks: env LC_ALL=C awk -f check.awk kestro/newsfeeds kestro/active kestro/newsgroups"
echo "          cat (floor):     cat kestro/newsfeeds kestro/active kestro/newsgroups"
echo
echo "active: $groups groups, $(wc -c < kestro/active) bytes;" \
     "newsgroups $(wc -c < kestro/newsgroups) bytes; newsfeeds 36 rules of 8 feeds; all clean"
echo
printf "exec '%s'\n" "$program" > check.run
printf 'LC_ALL=C\nexport LC_ALL\nexec awk -f check.awk kestro/newsfeeds kestro/active kestro/newsgroups\n' > awk.run
printf 'exec cat kestro/newsfeeds kestro/active kestro/newsgroups\n' > cat.run
interleaved_hyperfine times.csv true check=kestro-check "awk=awk line checks" "cat=cat (floor)"
summarise_hyperfine times.csv
echo
echo "peak resident memory: kestro-check $(peak_kib "$program") KiB," \
     "awk line checks $(peak_kib env LC_ALL=C awk -f check.awk kestro/newsfeeds kestro/active kestro/newsgroups) KiB"
