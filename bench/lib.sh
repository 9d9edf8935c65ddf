# Shared by the benchmark scripts (sourced).

# median_seconds RUNS COMMAND...: one warm-up run, then RUNS timed runs (each after `before_run`, when the
# caller defines it, and a sync, so that the previous run's writes do not land in this one's time); prints the
# median in seconds, each run on stderr.
median_seconds() {
    local runs=$1 times=() i t0 t1
    shift
    for ((i = 0; i <= runs; i++)); do
        if declare -F before_run >/dev/null; then before_run; fi
        sync
        t0=$(date +%s.%N)
        "$@"
        t1=$(date +%s.%N)
        if ((i > 0)); then
            times+=("$(python3 -c "print('%.3f' % ($t1 - $t0))")")
            echo "  $1 run $i: ${times[-1]} s" >&2
        fi
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }
