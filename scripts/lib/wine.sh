# Shell helpers for running sweeptool.exe and the Windows-side tests in a throw-away Wine machine.
# Source it; it sets nothing until wine_new_prefix is called.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

# Creates a fresh 64-bit Wine machine under a new temporary folder and exports WINEPREFIX.
wine_new_prefix() {
    local root
    root=$(mktemp -d /tmp/sweep-wine.XXXXXX)
    export WINEPREFIX="$root/pfx"
    export WINEARCH=win64
    wineboot -i >/dev/null 2>&1
    wineserver -w
    # Wine links the profile's Desktop, Documents and the like to this machine's home folder:
    # a program run in the prefix that writes or deletes there would reach the host. Real
    # folders keep everything inside the throw-away machine.
    local link
    for link in "$WINEPREFIX"/drive_c/users/*/*; do
        [ -L "$link" ] || continue
        rm -f "$link" && mkdir -p "$link"
    done
}

wine_drop_prefix() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    wineserver -k >/dev/null 2>&1 || true
    case "$WINEPREFIX" in /tmp/sweep-wine.*/pfx) rm -rf "$(dirname "$WINEPREFIX")" ;; esac
    unset WINEPREFIX
}

# Restarts the Wine machine as Windows restarts: every program and service ends, then the
# machine boots again, which carries out the deletions queued for the restart. Waiting for
# the old session to end by itself would wait for ever while a program still runs.
wine_restart() {
    wineserver -k >/dev/null 2>&1
    wineboot -r >/dev/null 2>&1
    wineserver -w
}

# The Windows path of a file in the Wine machine's C: drive.
wine_c() { echo "$WINEPREFIX/drive_c/$1"; }

# Runs a Windows program and prints its full 32-bit exit code (the Linux status keeps 8 bits).
# Usage: wine_exit_code 'C:\path\prog.exe' args...
wine_exit_code() {
    local prog=$1
    shift
    local out
    # cmd's own status is that of its last command, not the program's: read the echoed code.
    out=$(wine cmd /c "start /wait \"\" \"$prog\" $* & echo EXIT=%errorlevel%" 2>/dev/null | tr -d '\r') || true
    echo "$out" | sed -n 's/^EXIT=//p' | tail -n 1
}

# Counts of an e2e script: call check NAME CONDITION-EXIT-STATUS.
E2E_PASSED=0
E2E_FAILED=0
e2e_check() {
    local name=$1
    shift
    if "$@"; then
        E2E_PASSED=$((E2E_PASSED + 1))
        echo "PASS: $name"
    else
        E2E_FAILED=$((E2E_FAILED + 1))
        echo "FAIL: $name"
    fi
}
e2e_equal() {
    local name=$1 want=$2 got=$3
    if [ "$want" = "$got" ]; then
        E2E_PASSED=$((E2E_PASSED + 1))
        echo "PASS: $name"
    else
        E2E_FAILED=$((E2E_FAILED + 1))
        echo "FAIL: $name (want '$want', got '$got')"
    fi
}
e2e_summary() { echo "e2e: $E2E_PASSED passed, $E2E_FAILED failed"; }
