# shellcheck shell=bash
# Sourced by the set-up commands: one line per stage, with the time since the command the user typed
# started ("run [2:31] building 180 steps…"). The first command sets the clock and the name; the
# commands it calls inherit both.
if [ -z "${ZOVEVA_STAGE_START:-}" ]; then
    export ZOVEVA_STAGE_START=${EPOCHREALTIME/,/.}
    export ZOVEVA_STAGE_NAME
    ZOVEVA_STAGE_NAME=$(basename "$0")
fi

# The time since the start as m:ss, or s.t below a minute.
stage_elapsed() {
    # EPOCHREALTIME has the locale's decimal separator and six decimals.
    local now=${EPOCHREALTIME/,/.}
    local ms=$(((${now%.*} - ${ZOVEVA_STAGE_START%.*}) * 1000 + (10#${now#*.} - 10#${ZOVEVA_STAGE_START#*.}) / 1000))
    if [ $ms -lt 60000 ]; then
        printf '%d.%d s' $((ms / 1000)) $((ms % 1000 / 100))
    else
        printf '%d:%02d' $((ms / 60000)) $((ms % 60000 / 1000))
    fi
}

stage() {
    printf '%s [%s] %s\n' "$ZOVEVA_STAGE_NAME" "$(stage_elapsed)" "$*"
}
