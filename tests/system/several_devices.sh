#!/usr/bin/env bash
# A production line: four programs side by side, one a device, started 0.4 s apart while
# other devices come and go during their greetings. Each must update its own device: exit
# status 0, "Uploading Complete." and its flash equal to its image.
set -uo pipefail
source "$(dirname "$0")/lib/upload_run.sh"
upload_init "${1:?build folder}" || exit 1
results="$UPLOAD_WORK/results"

# Devices coming and going while the four greet theirs (the greetings take 0 to 3 s).
(
    for _ in 1 2 3 4 5; do
        sleep 0.5
        upload_disturb
    done
) &
upload_side_by_side 4 0.4 0x10000 "$results" --rate 115200
wait

failures=0
for n in 1 2 3 4; do
    if [ ! -f "$results/$n" ]; then
        echo "FAIL: device $n: the run did not report" >&2
        failures=$((failures + 1))
        continue
    fi
    IFS='|' read -r outcome rc wall _ flash clean _ <"$results/$n"
    echo "device $n: $outcome, exit status $rc, ${wall}s, flash $flash, clean $clean"
    if [ "$outcome" != complete ] || [ "$rc" != 0 ] || [ "$flash" != equal ] || [ "$clean" != yes ]; then
        [ -f "$results/$n.out" ] && sed 's/^/  update: /' "$results/$n.out" >&2
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ] && echo "several devices passed"
exit $((failures != 0))
