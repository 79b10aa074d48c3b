# shellcheck shell=sh
# Sourced by the benchmark scripts, which set runs and warmup (and may set
# rounds) before they call these functions.
# shellcheck disable=SC2154
# need_hyperfine: stops the script with a message when hyperfine is missing.
need_hyperfine() {
    if ! command -v hyperfine >/dev/null 2>&1; then
        echo "$0: hyperfine is needed (apt-get install hyperfine; pkg install hyperfine)" >&2
        exit 2
    fi
}

# describe_runs: the line of a report that says how the commands were run.
describe_runs() {
    echo "runs:     $runs timed runs of each command, in ${rounds:-5} rounds of hyperfine -N," \
         "each after $warmup warm-up runs; the order of the commands turns each round"
}

# interleaved_hyperfine CSV PREPARE KEY=LABEL...: times the commands, each
# the one-line script KEY.run in the current folder, which sh reads
# (hyperfine -N, so every command pays the same start of sh), in $rounds
# rounds (default 5) of $runs / $rounds timed runs (rounded up; give a
# multiple of the rounds for exactly $runs) after $warmup untimed ones, with PREPARE before every run. The order of the commands turns by
# one each round, so that all of them meet the same drift in the speed of
# the machine; one hyperfine call, which takes the runs of each command in
# turn, would give the drift of those seconds to one command alone. The
# runs of each command are pooled into CSV, in the form of hyperfine's
# --export-csv, with LABEL (which holds no "|" or ",") as its name and
# the commands in their order.
interleaved_hyperfine() {
    csv=$1
    prepare=$2
    shift 2
    labels=$(printf '%s|' "$@")
    rounds=${rounds:-5}
    per_round=$(((runs + rounds - 1) / rounds))
    keys=$(for pair in "$@"; do printf '%s\n' "${pair%%=*}"; done)
    # hyperfine -N runs the preparation without a shell as well.
    printf '%s\n' "$prepare" > prepare.run
    round=0
    rm -f round*.json
    while [ "$round" -lt "$rounds" ]; do
        list=$(printf '%s\n' "$keys" | paste -s -d, -)
        hyperfine -N --style basic --warmup "$warmup" --runs "$per_round" \
            --prepare 'sh prepare.run' --export-json "round$round.json" \
            -L key "$list" 'sh {key}.run' > hyperfine.log 2>&1 ||
            { cat hyperfine.log >&2; exit 1; }
        keys=$(printf '%s\n' "$keys" | sed 1d; printf '%s\n' "$keys" | sed -n 1p)
        round=$((round + 1))
    done
    awk -v labels="$labels" '
        BEGIN {
            count = split(labels, pairs, "|") - 1
            for (i = 1; i <= count; i++) {
                eq = index(pairs[i], "=")
                key[i] = substr(pairs[i], 1, eq - 1)
                label[key[i]] = substr(pairs[i], eq + 1)
            }
        }
        /"user":/ { user_time = $2 + 0 }
        /"system":/ { sys_time = $2 + 0 }
        /"times": \[/ { in_times = 1; n = 0; next }
        in_times && /\]/ { in_times = 0; next }
        in_times { taken[++n] = $1 + 0; next }
        /"key":/ {
            k = $2
            gsub(/[",]/, "", k)
            for (i = 1; i <= n; i++)
                all[k, ++runs_of[k]] = taken[i]
            user_sum[k] += user_time * n
            system_sum[k] += sys_time * n
        }
        END {
            print "command,mean,stddev,median,user,system,min,max"
            for (i = 1; i <= count; i++) {
                k = key[i]
                m = runs_of[k]
                for (a = 1; a <= m; a++)
                    t[a] = all[k, a]
                for (a = 2; a <= m; a++)
                    for (b = a; b > 1 && t[b - 1] > t[b]; b--) {
                        swap = t[b]; t[b] = t[b - 1]; t[b - 1] = swap
                    }
                sum = 0
                for (a = 1; a <= m; a++)
                    sum += t[a]
                mean = sum / m
                squares = 0
                for (a = 1; a <= m; a++)
                    squares += (t[a] - mean) ^ 2
                median = m % 2 ? t[(m + 1) / 2] : (t[m / 2] + t[m / 2 + 1]) / 2
                printf "%s,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n", label[k], mean,
                       (m > 1 ? sqrt(squares / (m - 1)) : 0), median, user_sum[k] / m,
                       system_sum[k] / m, t[1], t[m]
            }
        }' round*.json > "$csv"
}

# summarise_hyperfine CSV: reads the file that hyperfine --export-csv wrote,
# whose first command is the program measured and the others its
# baselines, and prints a Markdown table: for each command its median wall
# time, the fastest and slowest run, the standard deviation, the mean CPU
# time (user + system, and each apart; the command's children included;
# in shell mode hyperfine takes off what starting the shell costs), and for each
# baseline the program's median wall time and mean CPU time divided by the
# baseline's. The command names must hold no comma.
summarise_hyperfine() {
    awk -F, '
        # A time in seconds, printed in milliseconds to about 3 figures.
        function ms(s) {
            s *= 1000
            return sprintf(s >= 100 ? "%.0f" : s >= 10 ? "%.1f" : s >= 1 ? "%.2f" : "%.3f", s)
        }
        NR == 1 {
            for (i = 1; i <= NF; i++)
                column[$i] = i
            print "| Command | Median ms | Min … max ms | σ ms | Mean CPU ms (user + sys) | Program ÷ this, wall | Program ÷ this, CPU |"
            print "|---|---:|---:|---:|---:|---:|---:|"
            next
        }
        {
            median = $column["median"]
            cpu = $column["user"] + $column["system"]
            if (NR == 2) {
                program_wall = median
                program_cpu = cpu
                ratios = "| — | — |"
            } else {
                ratios = sprintf("| %.2f | %s |", program_wall / median,
                                 cpu > 0 ? sprintf("%.2f", program_cpu / cpu) : "-")
            }
            printf "| %s | %s | %s … %s | %s | %s (%s + %s) %s\n", $column["command"], ms(median),
                   ms($column["min"]), ms($column["max"]), ms($column["stddev"]), ms(cpu),
                   ms($column["user"]), ms($column["system"]), ratios
        }' "$1"
}

# hyperfine_tsv CSV: the median, fastest and slowest wall times in seconds
# of each command, in their order, separated by tabs.
hyperfine_tsv() {
    awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i; next }
             { printf "%s%.6g\t%.6g\t%.6g", (NR > 2 ? "\t" : ""), $column["median"], $column["min"],
                      $column["max"] }
             END { print "" }' "$1"
}
