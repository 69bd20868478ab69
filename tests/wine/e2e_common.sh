# Shared by the Wine end-to-end scripts (sourced, not run): how a step fails, how a condition is
# waited for, and how the simulated unit is stopped. Expects $work (logs) and $sim_pid.

fail() {
    echo "FAILED: $*"
    for f in "$work"/*.log; do echo "--- $f"; tail -n 20 "$f"; done
    exit 1
}

# Waits up to $1 seconds for the command after it to succeed. Polls; never a fixed wait.
wait_for() {
    local limit=$(($(date +%s) + $1))
    shift
    until "$@"; do
        [ "$(date +%s)" -ge "$limit" ] && return 1
        sleep 0.1
    done
}

# Stops the simulated unit and waits until it has written its flash out.
stop_sim() {
    kill "$sim_pid"
    wait "$sim_pid"
    sim_pid=""
}
