#!/usr/bin/env bash
# Benchmarks SetUp.exe against bare programs with the same window doing the
# same job, in pairs after an untimed warm-up pair, the program that starts a
# pair alternating, and prints each figure (the ratio within a pair and each
# program's own times) as median, interquartile range and min-max. Builds what
# it needs; runs in its own Wine prefix (build/bench-prefix) on its own Xvfb.
#
# Environment: BENCH_ROUNDS (default 30) timed pairs per figure; BENCH_PIN=0
# leaves the processes unpinned; BENCH_CPU (default the last CPU) is the CPU
# they are pinned to; BENCH_BASELINE names another SetUp.exe (a Unix path),
# for example one built from an earlier commit, that each round of the
# install figures runs as well, for a comparison under the same load.
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$src/build}"
rounds="${BENCH_ROUNDS:-30}"
cpu="${BENCH_CPU:-$(($(getconf _NPROCESSORS_ONLN) - 1))}"

bash "$src/scripts/deps.sh"
# The build keeps the test prefix it was configured with; the bench has its own.
. "$src/scripts/env.sh" "$build/wineprefix"
setup_build "$src" "$build" >/dev/null
export WINEPREFIX="$build/bench-prefix"

# A round trip between a Wine process and the wineserver costs several times
# more when they sit on different CPUs, and unpinned figures swing widely.
# Pinning this shell pins everything it starts from here on: Xvfb, the
# wineserver and every Wine process inherit the affinity.
if [ "${BENCH_PIN:-1}" != 0 ]; then
    taskset -cp "$cpu" $$ >/dev/null
    pinned="pinned to CPU $cpu"
else
    pinned="not pinned"
fi

start_headless_session

if [ -n "${BENCH_BASELINE:-}" ]; then
    BENCH_BASELINE="$(winepath -w "$(realpath "$BENCH_BASELINE")")"
    export BENCH_BASELINE
    echo "Baseline: $BENCH_BASELINE, run in the same rounds as SetUp.exe."
fi

server=$(for pid in $(pgrep wineserver); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
done | head -n1 || true)
echo "Xvfb (pid $XVFB_PID): $(taskset -cp "$XVFB_PID" | sed 's/.*: //'), wineserver (pid ${server:-?}):" \
     "$(taskset -cp "${server:-$$}" | sed 's/.*: //'), Wine processes: inherited ($pinned)"
echo "$rounds timed pairs a figure after one untimed warm-up pair; the program that starts a pair alternates."
echo "Ratio = SetUp.exe / bare program within a pair. Each figure: median [IQR q1-q3] (min-max)."
echo
started=$(date +%s)

# Other work on the machine moves the figures, and not those of both
# programs alike: figures taken under different load do not compare. The
# kernel's pressure stall information tells for how much of each figure's
# time some task of the machine waited for a CPU, or for I/O.
stalled_us() { awk '/^some/ { sub("total=", "", $5); print $5 }' "/proc/pressure/$1" 2>/dev/null || echo 0; }
driver() {
    local t0 cpu0 io0 t1
    t0=$(date +%s%N) cpu0=$(stalled_us cpu) io0=$(stalled_us io)
    wine "$build/bin/bench_driver.exe" "$@"
    t1=$(date +%s%N)
    if [ -r /proc/pressure/cpu ]; then
        awk -v us=$(( (t1 - t0) / 1000 )) -v cpu=$(( $(stalled_us cpu) - cpu0 )) -v io=$(( $(stalled_us io) - io0 )) \
            'BEGIN { printf "    %.0f s; some task waited for a CPU %.0f%% of the time, for I/O %.0f%%\n", us / 1e6, 100 * cpu / us, 100 * io / us }'
    fi
}
# The last argument is the goal: the highest median ratio that meets it.
driver install 100 4096 "$rounds" 1.20
driver install 100 1048576 "$rounds" 1.10
driver reinstall 100 4096 "$rounds" 1.45
driver e2e 100 4096 "$rounds" 1.10
driver e2e-own 100 4096 "$rounds" 1.10
driver remove 100 4096 "$rounds" 1.10
driver scan "$rounds" 5000 20000 80000
driver dialog "$rounds"
echo "SetUp.exe size: $(stat -c %s "$build/bin/SetUp.exe") bytes ($(( $(stat -c %s "$build/bin/SetUp.exe") / 1024 )) KiB)"
echo "Bench took $(( $(date +%s) - started )) s."
