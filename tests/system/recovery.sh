#!/usr/bin/env bash
# Recovery through the boot connections: the real program against the simulated device started
# in its boot mode, for every target type from 1 to 7, side by side. The flash loader comes from
# the image-union's own section or from /loader FILE with S-record firmware; each recovery ends
# "Uploading Complete." with the flash equal to the image. /run loads and starts a section of
# any kind at the addresses its file gives. A boot loader that never answers ends within /wait;
# Ctrl-C during the wait stops the program; firmware without a loader, a loader linked in the
# flash and a run image with nothing to load are refused before the device sees a byte.
set -uo pipefail
source "$(dirname "$0")/lib/upload_run.sh"
build="$(cd "${1:?build folder}" && pwd)"
results="$(mktemp -d "${TMPDIR:-/tmp}/ostrevan-recovery.XXXXXX")"
trap 'rm -rf "$results"' EXIT

# S-records of SIZE random bytes at ADDRESS, as a tool makes them.
make_srec() {
    head -c "$2" /dev/urandom >"$UPLOAD_WORK/blob.$1"
    arm-none-eabi-objcopy -I binary -O srec --srec-forceS3 --change-addresses "$1" \
        "$UPLOAD_WORK/blob.$1" "$UPLOAD_WORK/code.$1.srec"
}

# SIZE random bytes linked at ADDRESS (in memory) as code.ADDRESS.elf, its Intel HEX
# code.ADDRESS.hex, and the memory it must fill, "ADDRESS BYTE" a line, as code.ADDRESS.ram.
make_linked() {
    local blob="$UPLOAD_WORK/linked.$1" code="$UPLOAD_WORK/code.$1"
    head -c "$2" /dev/urandom >"$blob"
    echo "SECTIONS { .text $1 : { *(.data) } }" >"$blob.ld"
    arm-none-eabi-objcopy -I binary -O elf32-littlearm -B arm "$blob" "$blob.o" &&
        arm-none-eabi-ld -T "$blob.ld" -e "$1" -o "$code.elf" "$blob.o" &&
        arm-none-eabi-objcopy -O ihex "$code.elf" "$code.hex" || return 1
    od -An -v -tx1 -w1 "$blob" |
        awk -v at=$(($1)) '{ printf "%08X %s\n", at + NR - 1, toupper($1) }' >"$code.ram"
}

#  name | sim's boot mode | program's options (@LOADER: a loader file, @LOADER_ELF: one linked
#  in memory, @FLASH_LOADER: S-records linked in the flash) | image (union, srec, run: S-records
#  at 0x00201000, code: at 0x00300000, elf-300000: ELF linked there, hex-201000: Intel HEX
#  linked there, nothing: S-records without data) | exit status | what else must hold
cases=(
    "rom-monitor|rom|/target 1|union|0|flash"
    "monitor-mask-rom|monitor|/target 2|union|0|flash"
    "monitor-kalmer-loader-file|monitor|/target 3 /loader @LOADER|srec|0|flash"
    "pfl-a|pfl --pfl-variant A|/target 4|union|0|flash"
    "pfl-b|pfl --pfl-variant B|/target 5|union|0|flash"
    "pfl-c|pfl --pfl-variant C|/target 6|union|0|flash"
    "pfl-c-loader-file|pfl --pfl-variant C|/target 7 /loader @LOADER|srec|0|flash"
    "run-pfl|pfl --pfl-variant C|/target 6 /run|run|0|started 0x201000: flash loader"
    "run-rom|rom|/target 1 /run|code|0|started 0x300000: code of its own"
    "run-rom-elf|rom|/target 1 /run|elf-300000|0|loaded 0x300000: code of its own"
    "run-pfl-a-hex|pfl --pfl-variant A|/target 4 /run|hex-201000|0|loaded 0x201000: flash loader"
    "pfl-c-loader-elf|pfl --pfl-variant C|/target 7 /loader @LOADER_ELF|srec|0|flash"
    "loader-in-flash|pfl --pfl-variant A|/target 4 /loader @FLASH_LOADER|srec|4|refused lies in the flash (0x10000000 to 0x11000000); a flash loader runs from memory outside it"
    "run-nothing|rom|/target 1 /run|nothing|4|refused holds no section with a header or an address"
    "never-answers|pfl --pfl-variant A --silent|/target 4 /wait 2|union|1|within 6"
    "ctrl-c-while-waiting|rom --silent|/target 1|union|5|interrupt"
    "no-loader|pfl --pfl-variant A|/target 4|srec|4|untouched"
)

run_case() {
    local name="$1" mode="$2" options="$3" image="$4" status="$5" check="$6"
    upload_init "$build" || return 1
    case "$image" in
        union) upload_image union 0x1000 5 ;;
        srec) upload_image srec 0x1000 6 ;;
        run) make_srec 0x00201000 256 && UPLOAD_IMAGE="$UPLOAD_WORK/code.0x00201000.srec" ;;
        code) make_srec 0x00300000 64 && UPLOAD_IMAGE="$UPLOAD_WORK/code.0x00300000.srec" ;;
        elf-*) make_linked "0x${image#elf-}" 200 && UPLOAD_IMAGE="$UPLOAD_WORK/code.0x${image#elf-}.elf" ;;
        hex-*) make_linked "0x${image#hex-}" 600 && UPLOAD_IMAGE="$UPLOAD_WORK/code.0x${image#hex-}.hex" ;;
        nothing) printf 'S0030000FC\nS9030000FC\n' >"$UPLOAD_WORK/nothing.srec" &&
            UPLOAD_IMAGE="$UPLOAD_WORK/nothing.srec" ;;
    esac || return 1
    make_srec 0x00201000 1024 && make_srec 0x10004000 1024 && make_linked 0x00201000 1024 ||
        return 1
    UPLOAD_ARGS="${options/@LOADER_ELF/$UPLOAD_WORK/code.0x00201000.elf}"
    UPLOAD_ARGS="${UPLOAD_ARGS/@FLASH_LOADER/$UPLOAD_WORK/code.0x10004000.srec}"
    UPLOAD_ARGS="${UPLOAD_ARGS/@LOADER/$UPLOAD_WORK/code.0x00201000.srec}"
    UPLOAD_SIM_START="${mode%% *}"
    local simOptions=()
    [ "$mode" = "${mode#* }" ] || read -r -a simOptions <<<"${mode#* }"
    if [ "$check" = interrupt ]; then
        (
            sleep 1.5
            kill -INT "$(cat "$UPLOAD_WORK/update.pid")"
        ) &
    fi
    upload_run 80 "${simOptions[@]}" --rate 115200 --dump-ram "$UPLOAD_WORK/ram" || return 1
    local problems=()
    [ "$RUN_RC" = "$status" ] || problems+=("exit status $RUN_RC, not $status")
    case "$check" in
        flash)
            [ "$RUN_OUTCOME" = complete ] || problems+=("outcome $RUN_OUTCOME")
            upload_flash_check >/dev/null || problems+=("the flash does not hold the image")
            upload_sim_clean || problems+=("the simulator saw a violation")
            # the loader went to memory and started; nothing was greeted
            grep -q "run at 0x201000: flash loader started" "$UPLOAD_WORK/sim.err" ||
                problems+=("the flash loader was not started")
            grep -q "Found Ostrevan" "$UPLOAD_WORK/update.out" && problems+=("the device was greeted")
            ;;
        started*)
            grep -q "run at ${check#started }" "$UPLOAD_WORK/sim.err" ||
                problems+=("the section was not started")
            grep -qx "Image loaded and started." "$UPLOAD_WORK/update.out" ||
                problems+=("no success line")
            ;;
        loaded*)
            grep -q "run at ${check#loaded }" "$UPLOAD_WORK/sim.err" ||
                problems+=("the section was not started")
            grep -qx "Image loaded and started." "$UPLOAD_WORK/update.out" ||
                problems+=("no success line")
            # every byte of the file at its address in the device's memory
            local expected="$UPLOAD_WORK/code.0x${image#*-}.ram"
            [ -s "$expected" ] && [ -z "$(comm -23 "$expected" "$UPLOAD_WORK/ram")" ] ||
                problems+=("the memory does not hold the file's bytes")
            ;;
        refused*)
            grep -qF "${check#refused }" "$UPLOAD_WORK/update.out" || problems+=("not told why")
            upload_host_silent || problems+=("the device received bytes")
            ;;
        within*)
            grep -q "ERROR: no answer from the boot loader" "$UPLOAD_WORK/update.out" ||
                problems+=("not told: no answer")
            awk -v s="$RUN_WALL" -v l="${check#within }" 'BEGIN { exit !(s < l) }' ||
                problems+=("took ${RUN_WALL}s")
            ;;
        interrupt)
            grep -q "Update stopped" "$UPLOAD_WORK/update.out" || problems+=("no stop line")
            ;;
        untouched)
            grep -q "this image carries no flash loader; target 4 needs one, or /loader FILE" \
                "$UPLOAD_WORK/update.out" || problems+=("not told why")
            upload_host_silent || problems+=("the device received bytes")
            ;;
    esac
    if [ "${#problems[@]}" = 0 ]; then
        echo "ok $name (${RUN_WALL}s)" >"$results/$name"
    else
        {
            echo "FAIL $name: ${problems[*]}"
            sed 's/^/  update: /' "$UPLOAD_WORK/update.out"
            grep -v "^ostrevan-sim: violation: end record" "$UPLOAD_WORK/sim.err" | sed 's/^/  sim: /'
        } >"$results/$name"
    fi
}

pids=()
for row in "${cases[@]}"; do
    IFS='|' read -r name mode options image status check <<<"$row"
    (run_case "$name" "$mode" "$options" "$image" "$status" "$check") &
    pids+=($!)
done
for pid in "${pids[@]}"; do
    wait "$pid"
done
failures=0
for row in "${cases[@]}"; do
    name="${row%%|*}"
    if [ -f "$results/$name" ]; then
        cat "$results/$name"
        grep -q "^ok " "$results/$name" || failures=$((failures + 1))
    else
        echo "FAIL $name: did not run"
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ] && echo "recovery passed"
exit $((failures != 0))
