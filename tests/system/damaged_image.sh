#!/usr/bin/env bash
# The real program against the simulated device with damaged image files: each is refused at
# start-up with exit status 4 and the reason on the output, and the device never hears a byte
# from the host.
set -uo pipefail
source "$(dirname "$0")/lib/upload_run.sh"
upload_init "${1:?build folder}" || exit 1

failures=0
for damage in cut-main flipped-main srec-no-end missing; do
    if [ "$damage" = srec-no-end ]; then
        upload_image srec 0x2000 5 || exit 1
    else
        upload_image union 0x8000 5 || exit 1
    fi
    upload_damage "$damage" || exit 1
    upload_run 20 --rate 115200 || exit 1
    echo "$damage: exit status $RUN_RC in ${RUN_WALL}s"
    problem=""
    [ "$RUN_RC" = 4 ] || problem="exit status $RUN_RC, not 4"
    grep -qF "$UPLOAD_DAMAGE" "$UPLOAD_WORK/update.out" ||
        problem="${problem:-the output does not say \"$UPLOAD_DAMAGE\"}"
    upload_host_silent || problem="${problem:-the device heard the host}"
    if [ -n "$problem" ]; then
        echo "FAIL ($damage): $problem" >&2
        sed 's/^/  update: /' "$UPLOAD_WORK/update.out" "$UPLOAD_WORK/update.err" >&2
        sed 's/^/  transcript: /' "$UPLOAD_WORK/transcript" | head -n 5 >&2
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ] && echo "damaged images refused"
exit $((failures != 0))
