#!/usr/bin/env bash
# Peak resident memory of feedgroups and feedqueue beside their baselines,
# on the workloads of their benchmarks: feedgroups listing a feed of 10
# patterns over a 1,000,000-line active against grep -E, and feedqueue
# queueing 10,000 articles over 200 rules against a shell loop that appends
# each line under flock(1). (bench/dropgroup_bench.sh measures dropgroup.)
#
# Usage: bench/peak_memory.sh [directory of the test builds]
# Without a directory, build/bench/test-bin is used (see bench/plot.sh).
# LINES (default 1000000) and ARTICLES (default 10000) set the sizes.
set -eu
cd "$(dirname "$0")/.."

bin=$(cd "${1:-build/bench/test-bin}" && pwd)
lines=${LINES:-1000000}
articles=${ARTICLES:-10000}
rules=200

scratch=$(mktemp -d "${TMPDIR:-/tmp}/peak-memory.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
mkdir -p "$scratch/kestro/suck"

# peak_kib COMMAND...: its peak resident memory in KiB.
. bench/peak_kib.sh

# active: names below a few hierarchies; newsfeeds: the feed "bench" with
# ten patterns, and 200 rules hierN.* of feeds feedN with their queues.
LC_ALL=C awk -v lines="$lines" 'BEGIN {
    nh = split("comp.lang comp.os.linux sci.physics rec.arts news.announce de.comp alt.binaries misc fr humanities", hier, " ")
    for (i = 0; i < lines; i++)
        printf "%s.group%d %d %d y\n", hier[i % nh + 1], i, 1000 + i % 90000, 1
}' > "$scratch/kestro/active"
{
    printf 'bench\t%s\n' 'comp.lang.*' 'comp.os.linux.*' 'sci.physics*' 'rec.arts.?v*' \
        'news.announce.*' 'de.comp.[a-m]*' 'alt.binaries.*.d' 'misc.test' 'fr.*.linux*' 'humanities.*'
    for ((n = 0; n < rules; n++)); do
        printf 'feed%d\thier%d.*\n' "$n" "$n"
        mkdir "$scratch/kestro/suck/feed$n"
    done
} > "$scratch/kestro/newsfeeds"
regex='^(comp\.lang\.[^ ]*|comp\.os\.linux\.[^ ]*|sci\.physics[^ ]*|rec\.arts\.[^ ]v[^ ]*'
regex="$regex"'|news\.announce\.[^ ]*|de\.comp\.[a-m][^ ]*|alt\.binaries\.[^ ]*\.d|misc\.test'
regex="$regex"'|fr\.[^ ]*\.linux[^ ]*|humanities\.[^ ]*) '
paths=()
for ((i = 0; i < articles; i++)); do
    paths+=("hier$((rules - 50 + i % 50))/group$((i % 7))/$i")
done
if [ "$(id -u)" = 0 ] && id news >/dev/null 2>&1; then
    chown -R news: "$scratch"
fi

# The shell loop of the feedqueue benchmark, as one process to measure.
# shellcheck disable=SC2016
loop='for p in "$@"; do
    f=${p%%/*}
    { flock -x 9 && printf "%s\n" "$p" >&9; } 9>>"kestro/suck/feed${f#hier}/outgoing"
done'

fg=$(cd "$scratch" && peak_kib "$bin/feedgroups" bench)
ge=$(cd "$scratch" && peak_kib env LC_ALL=C grep -E "$regex" kestro/active)
fq=$(cd "$scratch" && peak_kib "$bin/feedqueue" "${paths[@]}")
sl=$(cd "$scratch" && peak_kib bash -c "$loop" loop "${paths[@]}")
printf '%-46s %10s\n' "peak resident memory" KiB
printf '%-46s %10s\n' "feedgroups, $lines-line active, 10 patterns" "$fg"
printf '%-46s %10s\n' "grep -E, the same lines" "$ge"
printf '%-46s %10s\n' "feedqueue, $articles articles, $rules rules" "$fq"
printf '%-46s %10s\n' "shell loop with flock(1), the same appends" "$sl"
