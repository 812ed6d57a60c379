# Runs the real program against the simulated device on a pseudo-terminal: sourced by the
# system tests, the fault matrix, the benchmark and the demonstration.
#
#   upload_init BUILD_DIR            find the programs; make a work folder ($UPLOAD_WORK)
#   upload_image KIND SIZE [SEED [TAIL]]
#                                    make an image (union, loader or srec; a union's TAIL as
#                                    test-image takes it): $UPLOAD_IMAGE, $UPLOAD_EXPECT; or SIZE
#                                    bytes of firmware linked at 0x10004000 by the ARM binutils,
#                                    as the tools make it: elf (the linked file), and from it
#                                    elf-srec (objcopy -O srec) and elf-ihex (objcopy -O ihex),
#                                    or from the bytes blob-ihex (srec_cat -Intel)
#   upload_damage HOW                damage the union image just made (cut-main: cut inside its
#                                    main section; flipped-main: a bit of that section's checksum
#                                    word flipped; missing: a path with no file) or the srec one
#                                    (srec-no-end: without its end line); $UPLOAD_IMAGE names it
#                                    and $UPLOAD_DAMAGE says what the refusal must tell
#   upload_run LIMIT_S [SIM_OPTION...]
#       starts ostrevan-sim (greeting first) and ostrevan-update /port <link> /file <image>
#       (followed by $UPLOAD_ARGS, split at blanks)
#       (with UPLOAD_ATTACH_S set, the program first and the device that many seconds later, as
#       a device plugged in after the start; UPLOAD_SIM_START replaces "greeting";
#       UPLOAD_ON_PROGRAM is a command run once the programming shows),
#       waits for the program to end (killing it after LIMIT_S seconds), stops the simulator
#       so that it dumps its flash, and sets:
#         RUN_RC          the program's exit status (124: it had to be killed)
#         RUN_WALL        seconds from the program's start to its end
#         RUN_CPU         the program's user + system CPU seconds
#         RUN_T_START     seconds from the program's start to "Upload Starting..." (or "")
#         RUN_T_PROGRAM   ... to the first "FLASH Programming" status line (or "")
#         RUN_T_FAULT     ... to the simulator's unplugging (or "")
#         RUN_OUTCOME     complete | failure-box | hung | ended
#         RUN_STATUS      the last status line the program showed before its outcome
#       The program's output is in $UPLOAD_WORK/update.out, the simulator's report in
#       $UPLOAD_WORK/sim.err, its dialogue in $UPLOAD_WORK/transcript, the flash in
#       $UPLOAD_WORK/flash.bin.
#   upload_side_by_side COUNT STAGGER_S SIZE RESULTS [SIM_OPTION...]
#       COUNT programs, each with its own device and a union image of SIZE bytes, started
#       STAGGER_S apart, as a production line runs one updater a port; waits for all and writes
#       one line a run to RESULTS/<n>:
#         outcome|exit status|wall s|CPU s|flash (equal/differs)|clean (yes/no)|
#         programming s|programming bytes
#   upload_host_frames               the record frames the host sent, one a line
#   upload_flash_check               0 when the flash holds the image at its addresses
#   upload_sim_clean                 0 when the simulator saw no unerased programming and no
#                                    violation

upload_init() {
    local build
    build="$(cd "${1:?build folder}" && pwd)"
    UPLOAD_BUILD="$build"
    UPDATE_BIN="$build/platform/posix/ostrevan-update"
    SIM_BIN="$build/sim/program/ostrevan-sim"
    IMAGE_BIN="$build/tools/test-image"
    local program
    for program in "$UPDATE_BIN" "$SIM_BIN" "$IMAGE_BIN"; do
        [ -x "$program" ] || { echo "missing program: $program" >&2; return 1; }
    done
    UPLOAD_WORK="$(mktemp -d "${TMPDIR:-/tmp}/ostrevan-run.XXXXXX")"
    UPLOAD_SIM_PID=""
    UPLOAD_UPDATE_PID=""
    trap upload_cleanup EXIT
}

upload_cleanup() {
    [ -n "$UPLOAD_UPDATE_PID" ] && [ -f "$UPLOAD_WORK/update.pid" ] &&
        kill "$(cat "$UPLOAD_WORK/update.pid")" 2>/dev/null
    [ -n "$UPLOAD_SIM_PID" ] && kill "$UPLOAD_SIM_PID" 2>/dev/null
    [ -n "${UPLOAD_KEEP:-}" ] || rm -rf "$UPLOAD_WORK"
}

upload_image() {
    UPLOAD_IMAGE="$UPLOAD_WORK/image.$1"
    UPLOAD_EXPECT="$UPLOAD_WORK/image.$1.expect"
    UPLOAD_SIZE="$(($2))"
    case "$1" in
        union | loader | srec) ;;
        *)
            upload_tool_image "$1" "$2" "${3:-1}"
            return
            ;;
    esac
    "$IMAGE_BIN" make --kind "$1" --size "$2" --seed "${3:-1}" --tail "${4:-sfl}" \
        --image "$UPLOAD_IMAGE" --expect "$UPLOAD_EXPECT"
}

upload_tool_image() {
    local blob="$UPLOAD_WORK/blob.bin" elf="$UPLOAD_WORK/blob.elf"
    "$IMAGE_BIN" make --kind blob --size "$2" --seed "$3" --image "$blob" \
        --expect "$UPLOAD_EXPECT" || return 1
    echo 'SECTIONS { .text 0x10004000 : { *(.data) } }' >"$UPLOAD_WORK/blob.ld"
    arm-none-eabi-objcopy -I binary -O elf32-littlearm -B arm "$blob" "$UPLOAD_WORK/blob.o" &&
        arm-none-eabi-ld -T "$UPLOAD_WORK/blob.ld" -e 0x10004000 -o "$elf" "$UPLOAD_WORK/blob.o" ||
        return 1
    case "$1" in
        elf) cp "$elf" "$UPLOAD_IMAGE" ;;
        elf-srec) arm-none-eabi-objcopy -O srec --srec-forceS3 "$elf" "$UPLOAD_IMAGE" ;;
        elf-ihex) arm-none-eabi-objcopy -O ihex "$elf" "$UPLOAD_IMAGE" ;;
        blob-ihex) srec_cat "$blob" -binary -offset 0x10004000 -o "$UPLOAD_IMAGE" -Intel ;;
        *) echo "upload_image: unknown kind $1" >&2 && return 1 ;;
    esac
}

upload_damage() {
    local good="$UPLOAD_WORK/image.union" bad="$UPLOAD_WORK/damaged.$1"
    # the union's main section starts at 0x4000; its checksum word follows its bytes
    local word=$((0x4000 + UPLOAD_SIZE))
    case "$1" in
        cut-main)
            head -c $((0x4000 + 0x3000)) "$good" >"$bad"
            UPLOAD_DAMAGE="Image section 1 is cut short: 12288 of $UPLOAD_SIZE bytes"
            ;;
        flipped-main)
            cp "$good" "$bad"
            local byte
            byte="$(od -An -tu1 -j "$word" -N1 "$good" | tr -d ' ')"
            # shellcheck disable=SC2059
            printf "\\$(printf %03o $((byte ^ 1)))" |
                dd of="$bad" bs=1 seek="$word" conv=notrunc status=none
            UPLOAD_DAMAGE="Image section 1 fails its checksum"
            ;;
        srec-no-end)
            grep -v '^S[789]' "$UPLOAD_WORK/image.srec" >"$bad"
            UPLOAD_DAMAGE="S-record file has no termination record"
            ;;
        missing)
            bad="$UPLOAD_WORK/no-such-image"
            UPLOAD_DAMAGE="Image file not found: $bad"
            ;;
        *) echo "upload_damage: unknown damage $1" >&2 && return 1 ;;
    esac
    UPLOAD_IMAGE="$bad"
}

# 0 when the simulator's transcript holds no byte from the host.
upload_host_silent() {
    ! grep -q "host  >" "$UPLOAD_WORK/transcript" && grep -q "received 0 bytes," "$UPLOAD_WORK/sim.err"
}

upload_now() { date +%s.%N; }
upload_since() { awk -v a="$1" -v b="$(upload_now)" 'BEGIN { printf "%.2f", b - a }'; }

upload_run() {
    local limit="$1"
    shift
    local work="$UPLOAD_WORK" link="$UPLOAD_WORK/port"
    rm -f "$work"/update.out "$work"/update.err "$work"/sim.err "$work"/times "$work"/update.pid \
        "$work"/flash.bin "$work"/transcript
    local attach="${UPLOAD_ATTACH_S:-}"
    start_sim() {
        "$SIM_BIN" --link "$link" --start "${UPLOAD_SIM_START:-greeting}" --dump "$work/flash.bin" \
            --transcript "$work/transcript" "$@" 2>"$work/sim.err" &
        UPLOAD_SIM_PID=$!
    }
    if [ -z "$attach" ]; then
        start_sim "$@"
        local i
        for i in $(seq 200); do
            [ -L "$link" ] && break
            sleep 0.02
        done
        [ -L "$link" ] || { echo "the simulator published no port" >&2; return 1; }
    fi

    local start
    start="$(upload_now)"
    # The subshell starts the program, names its process and reports its CPU time (the
    # children's line of `times`) once it has ended.
    (
        # shellcheck disable=SC2086
        "$UPDATE_BIN" /port "$link" /file "$UPLOAD_IMAGE" ${UPLOAD_ARGS:-} </dev/null \
            >"$work/update.out" 2>"$work/update.err" &
        echo $! >"$work/update.pid"
        wait $!
        rc=$?
        times >"$work/times"
        exit $rc
    ) &
    UPLOAD_UPDATE_PID=$!
    if [ -n "$attach" ]; then
        sleep "$attach"
        start_sim "$@"
    fi
    RUN_T_START=""
    RUN_T_PROGRAM=""
    RUN_T_FAULT=""
    local killed=0
    while kill -0 "$UPLOAD_UPDATE_PID" 2>/dev/null; do
        [ -z "$RUN_T_START" ] && grep -q "Upload Starting" "$work/update.out" 2>/dev/null &&
            RUN_T_START="$(upload_since "$start")"
        if [ -z "$RUN_T_PROGRAM" ] && grep -q "^FLASH Programming" "$work/update.out" 2>/dev/null; then
            RUN_T_PROGRAM="$(upload_since "$start")"
            [ -n "${UPLOAD_ON_PROGRAM:-}" ] && eval "$UPLOAD_ON_PROGRAM" &
        fi
        [ -z "$RUN_T_FAULT" ] && grep -q "unplugged" "$work/sim.err" 2>/dev/null &&
            RUN_T_FAULT="$(upload_since "$start")"
        if awk -v s="$(upload_since "$start")" -v l="$limit" 'BEGIN { exit !(s > l) }'; then
            killed=1
            kill -TERM "$(cat "$work/update.pid")" 2>/dev/null
            sleep 2
            kill -KILL "$(cat "$work/update.pid")" 2>/dev/null
        fi
        sleep 0.05
    done
    wait "$UPLOAD_UPDATE_PID"
    RUN_RC=$?
    UPLOAD_UPDATE_PID=""
    RUN_WALL="$(upload_since "$start")"
    [ "$killed" = 1 ] && RUN_RC=124
    # "0m1.250s 0m0.310s": user and system time of the program.
    RUN_CPU="$(awk 'NR == 2 {
        n = split($1 " " $2, t, " "); s = 0
        for (i = 1; i <= n; i++) { split(t[i], p, "m"); s += p[1] * 60 + p[2] }
        printf "%.2f", s }' "$work/times" 2>/dev/null)"

    kill -TERM "$UPLOAD_SIM_PID" 2>/dev/null
    wait "$UPLOAD_SIM_PID" 2>/dev/null
    UPLOAD_SIM_PID=""

    if [ "$killed" = 1 ]; then
        RUN_OUTCOME=hung
    elif grep -q "^Uploading Complete\.$" "$work/update.out"; then
        RUN_OUTCOME=complete
    elif grep -q "Upload Failed\.  Please try again\." "$work/update.out"; then
        RUN_OUTCOME=failure-box
    else
        RUN_OUTCOME=ended
    fi
    RUN_STATUS="$(grep -v -e "^Uploading Complete\.$" -e "Upload Failed\." "$work/update.out" |
        grep -v '^[[:space:]]*$' | tail -n 1)"
    return 0
}

# Another device coming and going beside ours: an entry in the port's folder, and a fresh
# pseudo-terminal (in the folder its device lives in) for a moment.
upload_disturb() {
    touch "$UPLOAD_WORK/unrelated.$$"
    rm -f "$UPLOAD_WORK/unrelated.$$"
    "$SIM_BIN" --link "$UPLOAD_WORK/other.$$" --start loader 2>/dev/null &
    local other=$!
    sleep 0.3
    kill "$other" 2>/dev/null
    wait "$other" 2>/dev/null
    return 0
}

# The programming phase from the transcript: from the host's first data frame of the main
# section to the end of its end record, and the host's bytes in between ("SECONDS BYTES").
upload_programming_window() {
    awk '
        function secs(t) { return t + 0 }
        $2 == "host" {
            # a data frame of 2048 bytes: 5B 04 02 ...
            if (!started && $4 == "5B" && $5 == "04" && $6 == "02" && $7 == "10" && $8 == "00" &&
                $9 >= "40") { started = 1; first = secs($1) }
            if (started) {
                n = 0
                for (i = 4; i <= NF && $i ~ /^[0-9A-F][0-9A-F]$/; i++) n++
                bytes += n
                last = secs($1); lastBytes = n
                if ($4 == "5B" && $5 == "00" && $6 == "00" && $7 == "00" && $8 == "00" && $9 == "5D")
                    done = last
            }
        }
        END { if (started) printf "%.3f %d\n", done - first, bytes }' "$UPLOAD_WORK/transcript"
}

upload_side_by_side() {
    local count="$1" stagger="$2" size="$3" results="$4"
    shift 4
    local build="${UPLOAD_BUILD:?}" pids=() n
    mkdir -p "$results"
    for n in $(seq "$count"); do
        (
            upload_init "$build" || exit 1
            upload_image union "$size" "$((n + 20))" || exit 1
            upload_run 900 "$@" || exit 1
            local flash=differs clean=no seconds bytes
            upload_flash_check >/dev/null && flash=equal
            upload_sim_clean && clean=yes
            read -r seconds bytes <<<"$(upload_programming_window)"
            echo "$RUN_OUTCOME|$RUN_RC|$RUN_WALL|$RUN_CPU|$flash|$clean|${seconds:-0}|${bytes:-0}" \
                >"$results/$n"
            [ "$RUN_OUTCOME" = complete ] || cp "$UPLOAD_WORK/update.out" "$results/$n.out"
        ) &
        pids+=($!)
        sleep "$stagger"
    done
    for n in "${pids[@]}"; do
        wait "$n"
    done
}

# The record frames the host sent in the last run, one a line ('[', word count, payload,
# checksum, ']'), from the simulator's transcript.
upload_host_frames() {
    awk 'function digit(hex, at) { return index("0123456789ABCDEF", substr(hex, at, 1)) - 1 }
        function value(hex) { return digit(hex, 1) * 16 + digit(hex, 2) }
        $2 == "host" { for (i = 4; i <= NF && $i ~ /^[0-9A-F][0-9A-F]$/; i++) b[n++] = $i }
        END {
            for (p = 0; p + 5 < n; p++) {
                if (b[p] != "5B") continue
                last = p + 2 * (value(b[p + 1]) * 256 + value(b[p + 2])) + 5
                if (last >= n || b[last] != "5D") continue
                frame = b[p]
                for (k = p + 1; k <= last; k++) frame = frame " " b[k]
                print frame
                p = last
            }
        }' "$UPLOAD_WORK/transcript"
}

upload_flash_check() {
    "$IMAGE_BIN" check --expect "$UPLOAD_EXPECT" --dump "$UPLOAD_WORK/flash.bin"
}

upload_sim_clean() {
    grep -q "unerased programs 0;" "$UPLOAD_WORK/sim.err" &&
        grep -q "violations: 0$" "$UPLOAD_WORK/sim.err"
}
