# shellcheck shell=sh
# Sourced by the benchmark scripts.
# peak_kib [-o FILE] COMMAND...: runs the command with its standard output
# to FILE (/dev/null without -o) and prints its peak resident memory in
# KiB: GNU time's %M, or the maximum resident set size that BSD time -l
# reports (in KiB there too). For a shell, that is the largest of the shell
# and the commands it waited for. Without /usr/bin/time it prints "-". (A
# wrapper that forks itself would count its own size.)
# An output file matters for commands that behave otherwise on /dev/null:
# GNU grep stops at the first match there.
peak_kib() {
    peak_out=/dev/null
    if [ "$1" = -o ]; then
        peak_out=$2
        shift 2
    fi
    if [ -x /usr/bin/time ] && /usr/bin/time -f %M true >/dev/null 2>&1; then
        /usr/bin/time -f 'peak %M' "$@" 2>&1 >"$peak_out" | sed -n 's/^peak //p'
    elif [ -x /usr/bin/time ]; then
        /usr/bin/time -l "$@" 2>&1 >"$peak_out" | awk '/maximum resident set size/ { print $1 }'
    else
        "$@" >"$peak_out" 2>&1 || true
        echo -
    fi
}

# peak_growth SMALL LARGE: how many KiB the larger peak exceeds the smaller
# by, and whether that stays under the bound of 4 MiB that the programs
# keep whatever the size of the files.
peak_growth() {
    if [ "$1" = - ] || [ "$2" = - ]; then
        echo "unknown (no /usr/bin/time)"
    else
        awk -v a="$1" -v b="$2" 'BEGIN {
            printf "%+d KiB (%s 4096 KiB)\n", b - a, b - a < 4096 ? "under" : "NOT under"
        }'
    fi
}
