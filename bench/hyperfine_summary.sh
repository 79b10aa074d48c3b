# shellcheck shell=sh
# Sourced by the benchmark scripts.
# need_hyperfine: stops the script with a message when hyperfine is missing.
need_hyperfine() {
    if ! command -v hyperfine >/dev/null 2>&1; then
        echo "$0: hyperfine is needed (apt-get install hyperfine; pkg install hyperfine)" >&2
        exit 2
    fi
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
