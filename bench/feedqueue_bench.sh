#!/usr/bin/env bash
# Queues 10,000 articles with one run of feedqueue over a newsfeeds of 200
# rules, then makes the same appends with a shell loop that locks each
# queue file with flock(1), and prints both wall times, their ratio and the
# articles per second. The two sets of queue files must come out equal.
#
# Usage: bench/feedqueue_bench.sh [path/to/test-bin/feedqueue]
# Without a path, a test build is looked for under build/*/test-bin (see
# bench/find_test_build.sh). ARTICLES=n changes the number of articles.
set -eu

articles=${ARTICLES:-10000}
rules=200
spread=50  # the articles go to the last $spread feeds in turn

top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/bench/find_test_build.sh"
program=${1:-$(cd "$top" && find_test_build feedqueue || true)}
if [ -z "$program" ] || [ ! -x "$program" ]; then
    echo "usage: $0 path/to/test-bin/feedqueue" >&2
    exit 2
fi
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
if ! command -v flock >/dev/null; then
    echo "$0: flock(1) is needed" >&2
    exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A configuration folder: rules feedN<TAB>hierN.* for N from 0 to 199, a
# queue directory for each feed. The test build reads "kestro" below the
# folder it runs in; run as root, it works as the news account.
make_config() {
    mkdir -p "$1/kestro/suck"
    local n
    for ((n = 0; n < rules; n++)); do
        printf 'feed%d\thier%d.*\n' "$n" "$n"
        mkdir "$1/kestro/suck/feed$n"
    done >"$1/kestro/newsfeeds"
    if [ "$(id -u)" = 0 ] && id news >/dev/null 2>&1; then
        chown -R news: "$1"
    fi
}

# The article paths, and the feed each one belongs to; every article walks
# past at least rules - spread rules before its own matches.
paths=()
feeds=()
for ((i = 0; i < articles; i++)); do
    feed=$((rules - spread + i % spread))
    paths+=("hier$feed/group$((i % 7))/$i")
    feeds+=("feed$feed")
done

# Wall clock in seconds with microseconds.
now() {
    if [ -n "${EPOCHREALTIME:-}" ]; then
        echo "${EPOCHREALTIME/,/.}"
    else
        date +%s.%N
    fi
}

make_config "$scratch/feedqueue"
make_config "$scratch/shell"

start=$(now)
(cd "$scratch/feedqueue" && "$program" "${paths[@]}")
end=$(now)
program_time=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')

# The same appends, one locked open, write and close per article; the loop
# is told each article's feed rather than finding it.
start=$(now)
cd "$scratch/shell"
for ((i = 0; i < articles; i++)); do
    { flock -x 9 && printf '%s\n' "${paths[i]}" >&9; } 9>>"kestro/suck/${feeds[i]}/outgoing"
done
cd "$top"
end=$(now)
shell_time=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')

if ! diff -r "$scratch/feedqueue/kestro/suck" "$scratch/shell/kestro/suck" >/dev/null; then
    echo "$0: the queue files differ" >&2
    exit 1
fi

echo "program: $program"
echo "$articles articles, $rules rules, matches among the last $spread rules; queue files equal"
awk -v n="$articles" -v p="$program_time" -v s="$shell_time" 'BEGIN {
    printf "feedqueue, one run      %8.3f s  %9.0f articles/s\n", p, n / p
    printf "shell loop with flock   %8.3f s  %9.0f articles/s\n", s, n / s
    printf "ratio shell / feedqueue %8.1f\n", s / p
}'
