#!/usr/bin/env bash
# Runs a serial test program under the Wine bench of BUILD with simulated
# readers on fixed ports, and ends them afterwards:
#
#   serial_sim_run.sh BUILD EXE [ARGS...]
#
#   COM7   a Tarvik-LNA_LNB reader           COM12  a Tarvik-USB reader
#   COM21  answers anything with 20 bytes    COM22  answers anything with 70 bytes
#   COM23  never answers                     COM24  unplugs itself on "UNPLUG"
#   COM41  a link to a plain file (opens, but is no serial port)
#   COM40  nothing at all
#
# None of them is in the serial-port device map: the tests write the map
# themselves. The program finds the simulator's files through two variables:
# VELMORA_SIM_LOGS (the folder of PORT.rx/PORT.tx, as a Z: path) and
# VELMORA_SIM_DOSDEVICES (the prefix's dosdevices folder, as a Z: path).
set -u

[ $# -ge 2 ] || { echo "usage: serial_sim_run.sh BUILD EXE [ARGS...]" >&2; exit 2; }
build=$1; shift
here=$(dirname "$(readlink -f "$0")")
source_dir=$(readlink -f "$here/../..")

# Listing the tests needs no readers.
for arg in "$@"; do
    case $arg in --gtest_list_tests) exec "$source_dir/tools/bench" run "$build" "$@" ;; esac
done

bench_env=$("$source_dir/tools/bench" env "$build") || exit 1
eval "$bench_env"
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES WINELOADER DISPLAY

work=$(mktemp -d "$build/serial-sim.XXXXXX")
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    if [ -L "$WINEPREFIX/dosdevices/com41" ] &&
       [ "$(readlink "$WINEPREFIX/dosdevices/com41")" = "$work/plain-file" ]; then
        rm -f "$WINEPREFIX/dosdevices/com41"
    fi
    rm -rf "$work"
}
trap cleanup EXIT

printf '[{"match": null, "reply": "ABCDEFGHIJKLMNOPQRST"}]\n' >"$work/reply20.json"
printf '[{"match": null, "reply": "%s"}]\n' \
    "$(printf '%s' 'abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_+*=/<>!')" \
    >"$work/reply70.json"
printf '[{"match": "UNPLUG", "reply": "", "then": "unplug"}]\n' >"$work/unplug.json"
printf 'not a serial port\n' >"$work/plain-file"

python3 "$source_dir/tools/reader-sim/reader_sim.py" \
    --prefix "$WINEPREFIX" --wine "$WINELOADER" --log-dir "$work/logs" \
    --port COM7=lnx,nodevmap \
    --port COM12=usb,nodevmap \
    --port "COM21=script:$work/reply20.json,nodevmap" \
    --port "COM22=script:$work/reply70.json,nodevmap" \
    --port COM23=silent,nodevmap \
    --port "COM24=script:$work/unplug.json,nodevmap" \
    </dev/null >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 200); do
    grep -qx ready "$work/sim.out" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
done
if ! grep -qx ready "$work/sim.out" 2>/dev/null; then
    echo "serial_sim_run.sh: the reader simulator did not start" >&2
    cat "$work/sim.err" >&2
    exit 1
fi
ln -sfn "$work/plain-file" "$WINEPREFIX/dosdevices/com41"
rm -f "$WINEPREFIX/dosdevices/com40"

to_windows() { printf 'Z:%s' "$1" | tr / '\\'; }
export VELMORA_SIM_LOGS=$(to_windows "$work/logs")
export VELMORA_SIM_DOSDEVICES=$(to_windows "$WINEPREFIX/dosdevices")

"$WINELOADER" "$@"
status=$?
exit $status
