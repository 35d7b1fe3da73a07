# Sourced by the demo, the package test and the whole-program benchmarks:
# starts quillmarsh-sim on a free loopback port and stops it when the calling
# script exits.
#
#   start_simulator BUILD_DIR|PROGRAM [simulator options...]
#
# Sets SIM_ADDRESS (127.0.0.1:PORT) and exports QUILLMARSH_MARKET_HOST and
# QUILLMARSH_ACCOUNT_HOST so the program talks to it.

start_simulator() {
    local program=$1
    shift
    [ ! -d "$program" ] || program=$program/tools/sim/quillmarsh-sim
    SIM_OUTPUT=$(mktemp)
    "$program" --port 0 "$@" >"$SIM_OUTPUT" &
    SIM_PID=$!
    trap stop_simulator EXIT
    # Ctrl-C or a kill ends the script through its EXIT trap, which the
    # simulator (a background job, deaf to Ctrl-C) depends on.
    trap 'exit 130' INT
    trap 'exit 143' TERM
    local waited=0
    until grep -q '^listening on ' "$SIM_OUTPUT"; do
        if ! kill -0 "$SIM_PID" 2>/dev/null || ((waited++ >= 100)); then
            echo "quillmarsh-sim did not start" >&2
            return 1
        fi
        sleep 0.1
    done
    SIM_ADDRESS=$(sed -n 's/^listening on //p' "$SIM_OUTPUT")
    export QUILLMARSH_MARKET_HOST=$SIM_ADDRESS QUILLMARSH_ACCOUNT_HOST=$SIM_ADDRESS
}

stop_simulator() {
    if [ -n "${SIM_PID:-}" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=
    fi
    rm -f "${SIM_OUTPUT:-}"
}
