#!/usr/bin/env bash
# The real program against the simulated device once per fault switch or damaged image. Every
# case either recovers (the upload completes and the flash holds the image), ends with the
# failure box and exit status 1 within 15 s of the fault (2 s of a device leaving), with an
# "ERROR: " status where the protocol gives one, or, for a damaged image, is refused with exit
# status 4 before the device hears a byte. No
# case may report success with a flash that differs from the image (the "false success" column
# counts those), and none may hang. The cases run a few at a time (FAULT_JOBS, default 4), each
# with a device of its own.
set -uo pipefail
source "$(dirname "$0")/lib/upload_run.sh"
build="${1:?build folder}"
upload_init "$build" || exit 1
results="$UPLOAD_WORK/results"
mkdir -p "$results"

# name | expected: recover, fail, unerased (fail with nothing erased), either or refused |
# "ERROR: " status on failure: yes, no,
# any or the text it begins with | simulator switches, or "damaged:HOW" for an image damaged as
# upload_damage does
# Records are counted from the first: 1 erases the loader section, 2 to 5 program it, 6 ends
# it, 7 erases the main section, 8 on program it.
cases=(
    "dropped reply|either|any|--drop-reply 40"
    "corrupted reply (0x57 for OK_CODE)|recover|any|--error-record 9 --error-code 0x57"
    "BAD_CSUM on a record|recover|any|--error-record 9 --error-code BAD_CSUM"
    "BAD_LENGTH on a record|recover|any|--error-record 9 --error-code BAD_LENGTH"
    "BAD_COMMAND on a record|recover|any|--error-record 9 --error-code BAD_COMMAND"
    "RECORD_TIMEOUT on a record|recover|any|--error-record 9 --error-code RECORD_TIMEOUT"
    "NO_REC_END on a record|recover|any|--error-record 9 --error-code NO_REC_END"
    "PROGRAM_FAIL on a record|fail|yes|--error-record 9 --error-code PROGRAM_FAIL"
    "PROGRAM_FAIL then OK_CODE|fail|yes|--error-record 9 --error-code PROGRAM_FAIL --program-fail-ok"
    "PROGRAM_FAIL in a record's answer|fail|yes|--error-record 9 --error-code PROGRAM_FAIL --program-fail-early --program-fail-ok"
    "PROGRAM_FAIL for the end record|fail|yes|--error-record 6 --error-code PROGRAM_FAIL --program-fail-ok"
    # Before the erase: the flash loader's own section would be left blank.
    "PROGRAM_FAIL at a section's start|unerased|ERROR: FLASH Program FAILED|--program-fail-start"
    "FLASH_FULL_CODE on a record|either|any|--error-record 9 --error-code FLASH_FULL_CODE"
    "errors for 10 s|fail|yes|--error-record 9 --error-count 100000"
    "slow erase|recover|any|--erase-ms 4500 --no-param"
    "erase over 5 s a sector|fail|yes|--erase-ms 5500"
    "failed erase|fail|yes|--error-record 7 --error-code PROGRAM_FAIL"
    "flash full|fail|yes|--error-record 7 --error-code FLASH_FULL_CODE"
    # The box names the erase that failed, not the refusal that a retry mended before it.
    "BAD_CSUM mended, then too small a flash|fail|ERROR: FLASH erase failed.|--error-record 2 --error-code BAD_CSUM --chip-size 0x8000"
    "line noise|either|any|--noise 0.0005 --noise-seed 2"
    "unplug while programming|fail|ERROR: the device left|--unplug-after 20000"
    "unplug while erasing|fail|ERROR: the device left|--unplug-in-erase 2"
    # The loader never answers the connect sequence, for which the protocol has no status.
    "silence|fail|no|--silent"
    "image cut inside its main section|refused|any|damaged:cut-main"
    "image with a flipped checksum word|refused|any|damaged:flipped-main"
    "S-records without their end line|refused|any|damaged:srec-no-end"
)

# Runs one case in a folder of its own; writes its table line to RESULTS/<n> and, when it
# fails, what went wrong to RESULTS/<n>.fail.
run_case() {
    local index="$1" name="$2" expect="$3" errorStatus="$4" switches="$5"
    upload_init "$build" || return 1
    upload_image union 0x8000 3 || return 1
    local damaged=""
    if [[ "$switches" == damaged:* ]]; then
        damaged="${switches#damaged:}"
        switches=""
        [ "$damaged" = srec-no-end ] && { upload_image srec 0x2000 3 || return 1; }
        upload_damage "$damaged" || return 1
    fi
    # shellcheck disable=SC2086
    upload_run 120 --rate 115200 $switches || return 1
    local flash=-
    upload_flash_check >/dev/null && flash=equal || flash=differs
    [ -n "$damaged" ] && flash=damaged
    # Success claimed (the completion line or exit status 0) while the flash is not the image.
    local false=0
    if [ "$RUN_OUTCOME" = complete ] || [ "$RUN_RC" = 0 ]; then
        [ "$flash" = equal ] || false=1
    fi
    # From the fault (the unplugging, else the start of the upload) to the end.
    local origin="${RUN_T_FAULT:-${RUN_T_START:-0}}" after shown
    after="$(awk -v w="$RUN_WALL" -v o="$origin" 'BEGIN { printf "%.1f", w - o }')"
    # The status the failure was shown with.
    shown="$(grep "^ERROR: " "$UPLOAD_WORK/update.out" | tail -n 1)"
    printf '%-34s %-12s %6.1fs %6.1fs  %-7s %-5s %s\n' "$name" "$RUN_OUTCOME" "$RUN_WALL" \
        "$after" "$flash" "$false" "${shown:-$RUN_STATUS}" >"$results/$index"
    local problem=""
    [ "$false" = 0 ] || problem="success reported with a flash that is not the image"
    case "$expect:$RUN_OUTCOME" in
        refused:*)
            [ "$RUN_RC" = 4 ] || problem="${problem:-exit status $RUN_RC where 4 was expected}"
            grep -qF "$UPLOAD_DAMAGE" "$UPLOAD_WORK/update.out" ||
                problem="${problem:-the refusal does not say \"$UPLOAD_DAMAGE\"}"
            upload_host_silent || problem="${problem:-the device heard the host}"
            ;;
        *:complete)
            [ "$expect" = fail ] || [ "$expect" = unerased ] &&
                problem="${problem:-completed where a failure was expected}"
            ;;
        *:failure-box)
            [ "$expect" = recover ] && problem="failed where a retry should recover"
            local limit=15
            [ -n "$RUN_T_FAULT" ] && limit=2
            awk -v a="$after" -v l="$limit" 'BEGIN { exit !(a > l) }' &&
                problem="failure box after ${after}s"
            [ "$RUN_RC" = 1 ] || problem="exit status $RUN_RC where 1 was expected"
            if [ "$expect" = unerased ]; then
                grep -q "erase ranges 0, sectors 0;" "$UPLOAD_WORK/sim.err" ||
                    problem="${problem:-the device erased its flash}"
            fi
            case "$errorStatus" in
                yes) [ -z "$shown" ] && problem="no \"ERROR: \" status" ;;
                no | any) ;;
                *) [[ "$shown" == "$errorStatus"* ]] ||
                    problem="status \"$shown\" where \"$errorStatus\" was expected" ;;
            esac
            ;;
        *) problem="neither completion nor the failure box ($RUN_OUTCOME)" ;;
    esac
    echo "$false" >"$results/$index.false"
    if [ -n "$problem" ]; then
        {
            echo "  FAIL: $problem"
            sed 's/^/    update: /' "$UPLOAD_WORK/update.out" | tail -n 8
            sed 's/^/    sim: /' "$UPLOAD_WORK/sim.err" | tail -n 4
        } >"$results/$index.fail"
    fi
}

jobs="${FAULT_JOBS:-4}"
for i in "${!cases[@]}"; do
    IFS='|' read -r name expect errorStatus switches <<<"${cases[$i]}"
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        wait -n
    done
    ( run_case "$i" "$name" "$expect" "$errorStatus" "$switches" ) &
done
wait

failures=0
falseSuccesses=0
printf '%-34s %-12s %7s %7s  %-7s %-5s %s\n' case outcome wall after flash false status
for i in "${!cases[@]}"; do
    if [ ! -f "$results/$i" ]; then
        echo "FAIL: ${cases[$i]%%|*}: the run did not report" >&2
        failures=$((failures + 1))
        continue
    fi
    cat "$results/$i"
    falseSuccesses=$((falseSuccesses + $(cat "$results/$i.false")))
    if [ -f "$results/$i.fail" ]; then
        cat "$results/$i.fail" >&2
        failures=$((failures + 1))
    fi
done
echo "false successes: $falseSuccesses"
[ "$failures" = 0 ] && echo "fault matrix passed"
exit $((failures != 0))
