# The helpers the throughput benchmarks share (sourced, not run): scratch
# directories removed on exit, account lines, and interleaved rounds with
# medians of per-round ratios. Expects $runstat, the path of bench/runstat.

# scratch NAME DIR: a fresh directory under DIR, its path in $NAME, removed
# when the script exits (set here, not in a subshell, so that it is known).
work_dirs=()
trap 'rm -rf "${work_dirs[@]}"' EXIT
scratch() {
    local made
    made=$(mktemp -d "$2/corvane-bench.XXXXXX")
    work_dirs+=("$made")
    printf -v "$1" '%s' "$made"
}

# COUNT lines of PREFIXn<TAB>passwordn<TAB>class, the classes in turn.
make_lines() {
    awk -v n="$1" -v p="$2" 'BEGIN {
        split("admin super op user bot ubot opbot opubot", c, " ")
        for (i = 0; i < n; i++) printf "%s%d\tpassword%d\t%s\n", p, i, i, c[i % 8 + 1]
    }'
}

# A plan line: LABEL, then a command that runs PROGRAM ARG... with standard
# input from INPUT, its messages dropped, and succeeds when the exit status
# is STATUS:  plan_line LABEL STATUS INPUT PROGRAM ARG...
plan_line() {
    local label=$1
    shift
    printf '%s\tnull\tsh\t-c\t%s' "$label" \
        'want=$0; in=$1; shift; "$@" <"$in" 2>/dev/null; [ $? -eq "$want" ]'
    printf '\t%s' "$@"
    printf '\n'
}

# A group of a plan: a fresh copy of BASE_DB as RUN_DB, then the measured
# command:  plan_group LABEL BASE_DB RUN_DB STATUS INPUT PROGRAM ARG...
plan_group() {
    printf 'copy:%s\tnull\tcp\t%s\t%s\n' "$1" "$2" "$3"
    local label=$1
    shift 3
    plan_line "$label" "$@"
    printf '\n'
}

# Runs the groups of PLAN (blank-line separated) for ROUNDS rounds, each
# round one runstat call starting one group further on, after one round
# that is not counted. Writes "ROUND LABEL WALL_MS CPU_MS PEAK_KIB" lines.
run_rounds() {
    local plan=$1 count=$2 round
    awk -v RS= '{ print > (FILENAME "." NR) }' "$plan"
    local groups
    groups=$(ls "$plan".* | wc -l)
    for ((round = 0; round <= count; round++)); do
        for ((g = 0; g < groups; g++)); do
            cat "$plan.$(((round + g) % groups + 1))"
            echo
        done >"$plan.round"
        "$runstat" -r 1 -w 0 "$plan.round" |
            awk -v r="$round" 'r > 0 && $1 ~ /:/ && $1 !~ /^copy:/ { print r, $1, $3, $4, $5 }'
    done
    rm -f "$plan".*
}

# Reads run_rounds lines and prints, for each "NAME/NAME" pair given, the
# medians of the per-round ratios of wall time and of CPU time (user +
# system), with their ranges, for the operation OP (a NAME may name its
# own as NAME:OP):  ratios OP TIMES PAIR...
ratios() {
    local op=$1 times=$2
    shift 2
    for pair in "$@"; do
        printf '  %-16s' "$pair"
        for column in 3 4; do
            awk -v op="$op" -v a="${pair%/*}" -v b="${pair#*/}" -v c="$column" '
                BEGIN { if (a !~ /:/) a = a ":" op; if (b !~ /:/) b = b ":" op }
                $2 == a { x[$1] = $c } $2 == b { y[$1] = $c }
                END { for (r in x) if (r in y) print x[r] / y[r] }' "$times" |
                sort -g | awk -v what="$([ $column = 3 ] && echo wall || echo cpu)" '
                    { v[NR] = $1 }
                    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
                          printf "  %s %.3f (%.3f-%.3f)", what, m, v[1], v[NR] }'
        done
        echo
    done
}

# The median wall time and the largest peak of each measured command.
medians() {
    for label in $(awk '{ print $2 }' "$1" | sort -u); do
        awk -v l="$label" '$2 == l { print $3, $5 }' "$1" | sort -g |
            awk -v l="$label" '{ v[NR] = $1; if ($2 > p) p = $2 }
                END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
                      printf "  %-18s %9.1f ms %9d KiB peak\n", l, m, p }'
    done
}
