#!/usr/bin/env bash
# scripts/wine-run's result for a test program whose Linux process is killed (SIGKILL), as
# wineserver does to one that lingers after its last Windows thread has ended: the
# program's own exit code once its main() has returned, "Killed" (137) while it still ran.
# Usage: wine_run_exit_test.sh PROBE.exe (tests/smoke/wine_exit_probe.cpp)
set -u
probe=$1
run=${BASH_SOURCE[0]%/*}/../../scripts/wine-run
work=$(mktemp -d "${TMPDIR:-/tmp}/wine-run-exit.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
failures=0

# The Linux process of the probe run tagged `token`: the one whose first argument names the
# probe (not wine-run's shell nor its output copies, which share the environment).
probe_process() {
    local environ pid args
    for environ in /proc/[0-9]*/environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        grep -qsz "^SUITE_PROBE_TOKEN=$1\$" "$environ" || continue
        mapfile -d '' -t args 2>/dev/null <"/proc/$pid/cmdline" || continue
        [[ "${args[0]:-}" == *wine_exit_probe.exe ]] && { echo "$pid"; return 0; }
    done
    return 1
}

# check MODE KILL WANT: runs the probe in MODE through wine-run; with KILL, kills its Linux
# process once the probe says it waits; wine-run's status must be WANT.
check() {
    local mode=$1 kill=$2 want=$3 token="probe-$$-$RANDOM" status pid=
    SUITE_PROBE_MODE=$mode SUITE_PROBE_TOKEN=$token "$run" "$probe" >"$work/$mode.out" 2>"$work/$mode.err" &
    local runner=$!
    if [ "$kill" = kill ]; then
        for _ in $(seq 1200); do
            grep -q "^probe: waiting" "$work/$mode.out" && pid=$(probe_process "$token") && break
            sleep 0.1
        done
        if [ -z "$pid" ]; then
            echo "FAIL $mode: the probe never said it waits"
            kill "$runner"
        else
            kill -KILL "$pid"
        fi
    fi
    wait "$runner"
    status=$?
    if [ "$status" = "$want" ]; then
        echo "ok   $mode: wine-run gave $status"
    else
        echo "FAIL $mode: wine-run gave $status, not $want"
        sed 's/^/     /' "$work/$mode.out" "$work/$mode.err"
        failures=$((failures + 1))
    fi
}

check fail no-kill 1
check hang-in-test kill 137
check hang-at-exit kill 0
[ "$failures" = 0 ]
