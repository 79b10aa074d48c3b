# Sourced by the benchmark scripts.
# peak_kib COMMAND...: runs the command, its output discarded, and prints
# its peak resident memory in KiB: GNU time's %M, or the maximum resident
# set size that BSD time -l reports (in KiB there too). Without either it
# prints "-". (A wrapper that forks itself would count its own size.)
peak_kib() {
    if [ -x /usr/bin/time ] && /usr/bin/time -f %M true >/dev/null 2>&1; then
        /usr/bin/time -f 'peak %M' "$@" 2>&1 >/dev/null | sed -n 's/^peak //p'
    elif [ -x /usr/bin/time ]; then
        /usr/bin/time -l "$@" 2>&1 >/dev/null | awk '/maximum resident set size/ { print $1 }'
    else
        "$@" >/dev/null 2>&1 || true
        echo -
    fi
}
