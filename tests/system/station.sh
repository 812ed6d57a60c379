#!/usr/bin/env bash
# The station against simulated devices, one station process a case, the cases side by side:
# four devices with one failing (a fault of the simulator) and one plugged in 3 s after the
# start; and --repeat on one port serving two devices in a row (the first leaves, the next
# arrives) until Ctrl-C. The report is read by a JSON parser, each flash compared with the
# image, and the output without a terminal stays short.
set -uo pipefail
source "$(dirname "$0")/lib/upload_run.sh"
build="$(cd "${1:?build folder}" && pwd)"
STATION_BIN="$build/platform/posix/ostrevan-station"
[ -x "$STATION_BIN" ] || { echo "missing program: $STATION_BIN" >&2; exit 1; }
results="$(mktemp -d "${TMPDIR:-/tmp}/ostrevan-station.XXXXXX")"
trap 'rm -rf "$results"' EXIT

# The devices of a case, one word each: ok; fail (its records answered PROGRAM_FAIL); late
# (plugged in 3 s after the start); next (on the port before it, arriving once the device
# there has been served and has left).
#  name | devices | station options | exit status | outcomes in the report | most output lines
cases=(
    "four-devices|ok ok fail late|--log-dir @LOGS|1|failed updated updated updated|60"
    "repeat-then-ctrl-c|ok next|--repeat|5|updated updated|40"
)

wait_until() {
    local limit="$1" i
    shift
    for i in $(seq $((limit * 20))); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
}
report_lines() { [ "$(cat "$UPLOAD_WORK/report.jsonl" 2>/dev/null | wc -l)" -ge "$1" ]; }

run_case() {
    local name="$1" devices="$2" options="$3" status="$4" outcomes="$5" maxLines="$6"
    upload_init "$build" || return 1
    upload_image union 0x8000 11 || return 1
    local work="$UPLOAD_WORK" sims=() ports=() links=() kinds=() n=0 kind
    mkdir -p "$work/logs"
    for kind in $devices; do
        n=$((n + 1))
        kinds+=("$kind")
        if [ "$kind" = next ]; then
            links+=("${links[-1]}")
        else
            links+=("$work/port$n")
            ports+=("$work/port$n")
        fi
    done
    start_sim() {  # index (1-based)
        local switches=()
        [ "${kinds[$1 - 1]}" = fail ] &&
            switches=(--error-record 3 --error-code PROGRAM_FAIL --error-count 1000)
        "$SIM_BIN" --link "${links[$1 - 1]}" --rate 115200 --dump "$work/flash$1.bin" \
            "${switches[@]}" 2>"$work/sim$1.err" &
        sims[$1]=$!
    }
    stop_sim() {
        kill -TERM "${sims[$1]}" 2>/dev/null
        wait "${sims[$1]}" 2>/dev/null
    }
    local i
    for i in $(seq "$n"); do
        case "${kinds[$i - 1]}" in ok | fail) start_sim "$i" ;; esac
    done
    for i in $(seq "$n"); do
        case "${kinds[$i - 1]}" in ok | fail) wait_until 5 test -L "${links[$i - 1]}" ;; esac
    done

    local started
    started="$(date +%s.%N)"
    # shellcheck disable=SC2086
    "$STATION_BIN" --report "$work/report.jsonl" ${options/@LOGS/$work/logs} "$UPLOAD_IMAGE" \
        "${ports[@]}" </dev/null >"$work/station.out" 2>"$work/station.err" &
    local station=$!
    for i in $(seq "$n"); do
        case "${kinds[$i - 1]}" in
            late)
                sleep 3
                start_sim "$i"
                ;;
            next)
                # served, then it leaves and the next device arrives on the same port
                wait_until 40 report_lines "$((i - 1))" && stop_sim "$((i - 1))" && sleep 0.5 &&
                    start_sim "$i"
                ;;
        esac
    done
    if [ "$status" = 5 ]; then
        wait_until 40 report_lines "$n"
        sleep 0.5
        kill -INT "$station"
    fi
    local rc=124
    if wait_until 60 eval '! kill -0 '"$station"' 2>/dev/null'; then
        wait "$station"
        rc=$?
    else
        kill -KILL "$station" 2>/dev/null
    fi
    for i in $(seq "$n"); do
        stop_sim "$i"
    done

    local problems=()
    [ "$rc" = "$status" ] || problems+=("exit status $rc, not $status")
    local lines
    lines="$(wc -l <"$work/station.out")"
    [ "$lines" -le "$maxLines" ] || problems+=("$lines lines of output, more than $maxLines")
    for i in $(seq "$n"); do
        [ "${kinds[$i - 1]}" = fail ] && continue
        "$IMAGE_BIN" check --expect "$UPLOAD_EXPECT" --dump "$work/flash$i.bin" >/dev/null ||
            problems+=("device $i: its flash is not the image")
        upload_sim_clean_file "$work/sim$i.err" || problems+=("device $i: the simulator saw a violation")
    done
    local late=""
    for i in $(seq "$n"); do [ "${kinds[$i - 1]}" = late ] && late="${links[$i - 1]}"; done
    local checked
    checked="$(python3 - "$work/report.jsonl" "$UPLOAD_IMAGE" "$UPLOAD_EXPECT" "$outcomes" \
        "$started" "$late" "${ports[@]}" <<'PY'
import datetime, json, os, sys, zlib
report, image, expect, outcomes, started, late, *ports = sys.argv[1:]
problems = []
def runs(path):
    data, at, out = open(path, "rb").read(), 0, b""
    while at + 8 <= len(data):
        size = int.from_bytes(data[at + 4:at + 8], "little")
        out += data[at + 8:at + 8 + size]
        at += 8 + size
    return out
written = runs(expect)
lines = [json.loads(line) for line in open(report)]
fields = {"port", "device", "image", "target", "started", "seconds", "outcome", "status",
          "reason", "loader_version", "flash", "bytes", "rate"}
got = sorted(line["outcome"] for line in lines)
if got != sorted(outcomes.split()):
    problems.append(f"outcomes {got}, not {sorted(outcomes.split())}")
for n, line in enumerate(lines, 1):
    def check(ok, what):
        if not ok:
            problems.append(f"line {n} ({line.get('port')}): {what}")
    check(set(line) == fields, f"fields {sorted(set(line) ^ fields)} differ")
    check(line["port"] in ports, "an unknown port")
    check(line["device"] is None, "a device identity out of nowhere")
    check(line["image"] == {"path": image, "size": os.path.getsize(image),
                            "crc32": "%08x" % zlib.crc32(written)}, f"image {line['image']}")
    check(line["target"] == 8, "target")
    when = datetime.datetime.fromisoformat(line["started"])
    check(when.tzinfo is not None, "started without a time zone")
    delay = when.timestamp() - float(started)
    check(-1.5 < delay < 60, f"started {line['started']}")
    if line["port"] == late:
        check(delay > 2, f"the late device started {delay:.1f} s after the station")
    check(0 < line["seconds"] < 60, f"seconds {line['seconds']}")
    check(line["loader_version"] == "$SFLD V2.05", f"loader version {line['loader_version']}")
    check(line["flash"] == {"maker": 1, "device_id": 0x2249, "name": "AM29LV160B/DB"},
          f"flash {line['flash']}")
    if line["outcome"] == "updated":
        check(line["status"] == 0 and line["reason"] is None, "an update with a reason")
        check(line["bytes"] == len(written), f"bytes {line['bytes']}")
        check(line["rate"] is not None and 5000 < line["rate"] < 11520, f"rate {line['rate']}")
    else:
        check(line["status"] == 1, f"status {line['status']}")
        check("PROGRAM_FAIL" in (line["reason"] or ""), f"reason {line['reason']}")
print("; ".join(problems))
PY
)" || problems+=("the report could not be read: $(tail -n 1 "$work/report.jsonl" 2>/dev/null)")
    [ -z "$checked" ] || problems+=("report: $checked")
    if [[ "$options" == *@LOGS* ]]; then
        local logs
        logs="$(grep -l "SFLD Version ID" "$work"/logs/*.log 2>/dev/null | wc -l)"
        [ "$logs" = "$n" ] || problems+=("$logs logs with the loader's version, not $n")
    fi
    if [ ${#problems[@]} -eq 0 ]; then
        echo "ok" >"$results/$name"
    else
        printf '%s\n' "${problems[@]}" >"$results/$name"
        { echo "--- output"; cat "$work/station.out" "$work/station.err"; } >>"$results/$name"
    fi
}

# The simulator's own verdict: no programming over unerased bytes, no violation.
upload_sim_clean_file() {
    grep -q "unerased programs 0;" "$1" && grep -q "violations: 0$" "$1"
}

pids=()
for row in "${cases[@]}"; do
    IFS='|' read -r name devices options status outcomes maxLines <<<"$row"
    run_case "$name" "$devices" "$options" "$status" "$outcomes" "$maxLines" &
    pids+=($!)
done
for pid in "${pids[@]}"; do
    wait "$pid"
done

failures=0
for row in "${cases[@]}"; do
    name="${row%%|*}"
    if [ "$(cat "$results/$name" 2>/dev/null)" = ok ]; then
        echo "$name: ok"
    else
        echo "FAIL: $name" >&2
        sed 's/^/  /' "$results/$name" >&2 2>/dev/null
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ] && echo "station passed"
exit $((failures != 0))
