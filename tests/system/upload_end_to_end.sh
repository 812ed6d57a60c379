#!/usr/bin/env bash
# The real program against the simulated device on a pseudo-terminal: greeting, the device
# re-appearing, the device change, the upload, "Uploading Complete.", the window closing and the
# process ending. The flash then holds the image's bytes at their addresses, and nothing was
# programmed over unerased flash. Once for an image-union file, once for an S-record image; the
# second run also sees an unrelated change in the port's folder during the greeting, a device
# change that comes before the device has re-appeared. Then a small firmware linked by the ARM
# binutils: as S-records, and as the ELF file and Intel HEX, which must send the device exactly
# the records of the S-records.
set -uo pipefail
source "$(dirname "$0")/lib/upload_run.sh"
upload_init "${1:?build folder}" || exit 1

failures=0
fail() {
    echo "FAIL ($kind): $*" >&2
    sed 's/^/  update: /' "$UPLOAD_WORK/update.out" >&2
    sed 's/^/  sim: /' "$UPLOAD_WORK/sim.err" >&2
    failures=$((failures + 1))
}

for kind in union srec elf-srec elf elf-ihex blob-ihex; do
    if [ "$kind" = union ] || [ "$kind" = srec ]; then
        upload_image "$kind" 0x10000 7 || exit 1
    else
        # an odd size: the last record has a pad byte
        upload_image "$kind" 0x2801 9 || exit 1
    fi
    if [ "$kind" = srec ]; then
        (
            sleep 0.9
            touch "$UPLOAD_WORK/unrelated"
        ) &
    fi
    upload_run 90 --rate 115200 || exit 1
    echo "$kind: $RUN_OUTCOME in ${RUN_WALL}s (upload started at ${RUN_T_START:-?}s)"
    [ "$RUN_OUTCOME" = complete ] || { fail "outcome $RUN_OUTCOME, exit status $RUN_RC"; continue; }
    [ "$RUN_RC" = 0 ] || fail "exit status $RUN_RC"
    # The status lines in the order the dialog shows them.
    expected=("Initializing..." "Port Open." "Found Ostrevan." "Ready to Upload."
        "Upload Starting..." "FLASH Programming" "Uploading Complete.")
    at=0
    while IFS= read -r line; do
        [ "$at" -lt "${#expected[@]}" ] && [[ "$line" == "${expected[$at]}"* ]] && at=$((at + 1))
    done <"$UPLOAD_WORK/update.out"
    [ "$at" = "${#expected[@]}" ] || fail "status line '${expected[$at]}' missing or out of order"
    grep -q "re-appear" "$UPLOAD_WORK/sim.err" "$UPLOAD_WORK/transcript" ||
        grep -q "re-appearances 1;" "$UPLOAD_WORK/sim.err" || fail "the device did not re-appear"
    upload_flash_check || fail "the flash does not hold the image"
    upload_sim_clean || fail "the simulator saw programming over unerased flash or a violation"
    case "$kind" in
        elf-srec)
            upload_host_frames >"$UPLOAD_WORK/frames.srec"
            # the erase range, five records of 2048 bytes, one of the last byte, the end
            [ "$(wc -l <"$UPLOAD_WORK/frames.srec")" = 8 ] || fail "not the 8 frames expected"
            ;;
        elf | elf-ihex | blob-ihex)
            upload_host_frames | cmp -s - "$UPLOAD_WORK/frames.srec" ||
                fail "the records differ from those of the S-records"
            ;;
    esac
done
[ "$failures" = 0 ] && echo "end-to-end upload passed"
exit $((failures != 0))
