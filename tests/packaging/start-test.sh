#!/usr/bin/env bash
# start-test.sh BINDIR: starts the installed window (BINDIR/orvo-provision-tool, the start
# script) offscreen as fresh users and checks that each gets a runtime folder of their own, laid
# out from the supplied data, and a log that opens and, after SIGTERM, closes. Run as root, the
# users are two unprivileged user ids; otherwise the caller with two home folders.
set -uo pipefail
bindir=$(cd "$1" && pwd)
shipped=$bindir/../share/orvo-provision-tool
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

# make_user NAME UID: a home folder $work/NAME owned by UID.
make_user() {
    mkdir -p "$work/$1"
    [[ $(id -u) -eq 0 ]] && chown "$2:$2" "$work/$1"
    return 0
}

opened() { # RUNTIME: how many runs opened their log there
    cat "$1"/log/log-*.log 2>/dev/null | grep -c "QRV Opened!"
}

# run_window UID RUNTIME PROGRAM VAR=VALUE...: starts PROGRAM in a clean environment with the
# given variables and the umask $start_umask, waits until a new log in RUNTIME says the window
# opened (30 s at most), ends it with SIGTERM and gives its exit status.
run_window() {
    local uid=$1 runtime=$2 program=$3 as=() i before
    shift 3
    before=$(opened "$runtime")
    [[ $(id -u) -eq 0 ]] && as=(setpriv --reuid="$uid" --regid="$uid" --clear-groups)
    "${as[@]}" env -i PATH=/usr/bin:/bin LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen "$@" \
        sh -c 'umask "$0" && exec "$1"' "$start_umask" "$program" >"$work/output" 2>&1 &
    local pid=$!
    for ((i = 0; i < 300; i++)); do
        (($(opened "$runtime") > before)) && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"
    local status=$?
    [[ $status -eq 0 ]] || sed 's/^/start-test.sh: output: /' "$work/output" >&2
    return $status
}

# Every supplied file is in the runtime folder as supplied; the user's files may be added.
laid_out() {
    local missing
    missing=$(diff -r -q "$shipped" "$1" | grep -v "^Only in $1")
    [[ -z $missing ]] || { echo "$missing" >&2; return 1; }
}
logged() { # RUNTIME LINE
    grep -qs -- "$2" "$1"/log/log-*.log
}
owned_by() { # PATH UID
    [[ $(stat -c %u "$1") -eq $2 ]]
}
# The runtime folder holds SIP passwords (settings, the server's cfg files): it is its owner's
# alone, whatever the umask; as root, another user cannot read in it.
private() { # RUNTIME OTHER_UID
    [[ $(stat -c %a "$1") == 700 ]] || { echo "$1 has mode $(stat -c %a "$1")" >&2; return 1; }
    [[ $(id -u) -eq 0 ]] || return 0
    ! setpriv --reuid="$2" --regid="$2" --clear-groups \
        cat "$1/ini/setting.ini" "$1/server/htdocs/cfg/README" >/dev/null 2>&1
}
# What the start script copied is its owner's alone as well.
copied_private() { # RUNTIME
    local loose
    loose=$(find "$1/ini" "$1/server" "$1/models" "$1/default" "$1/examples" -perm /077 \
        ! -name setting.ini -print)
    [[ -z $loose ]] || { echo "open to others: $loose" >&2; return 1; }
}

uid_a=$(id -u) uid_b=$(id -u)
[[ $(id -u) -eq 0 ]] && uid_a=65534 uid_b=65533
make_user a "$uid_a"
make_user b "$uid_b"
runtime_a=$work/a/.local/share/orvo-provision-tool
runtime_b=$work/b/data/orvo-provision-tool

# --help and --version print and end, without display and without laying out a runtime folder.
prints_only() { # ARGUMENT BEGINNING
    local out
    out=$(env -i PATH=/usr/bin:/bin HOME="$work/c" "$bindir/orvo-provision-tool" "$1" 2>&1) &&
        [[ $out == "$2"* ]] && [[ ! -e $work/c ]]
}
check "orvo-provision-tool --version prints only" prints_only --version "orvo-provision-tool "
check "orvo-provision-tool --help prints only" prints_only --help "usage: orvo-provision-tool"

# A user without a runtime folder, from the menu's command.
start_umask=022
check "first start of user a ends with status 0" \
    run_window "$uid_a" "$runtime_a" "$bindir/orvo-provision-tool" HOME="$work/a"
check "user a's runtime folder is laid out" laid_out "$runtime_a"
check "user a's runtime folder is theirs" owned_by "$runtime_a/ini" "$uid_a"
check "user a's log opened" logged "$runtime_a" "QRV Opened!"
check "user a's log closed after SIGTERM" logged "$runtime_a" "QRV Closed!"
check "user a's settings written at close" test -s "$runtime_a/ini/setting.ini"
check "user a's runtime folder is private (umask 022)" private "$runtime_a" "$uid_b"
check "what was copied for user a is private (umask 022)" copied_private "$runtime_a"

# A second user, through the former name and with XDG_DATA_HOME, under the loosest umask.
start_umask=000
check "first start of user b ends with status 0" \
    run_window "$uid_b" "$runtime_b" "$bindir/orvo-provision-tool-start" HOME="$work/b" \
    XDG_DATA_HOME="$work/b/data"
check "user b's runtime folder is in XDG_DATA_HOME" laid_out "$runtime_b"
check "user b has no folder in ~/.local/share" test ! -e "$work/b/.local"
check "user b's log closed after SIGTERM" logged "$runtime_b" "QRV Closed!"
check "user b's runtime folder is private (umask 000)" private "$runtime_b" "$uid_a"
check "what was copied for user b is private (umask 000)" copied_private "$runtime_b"
check "user b left user a's folder alone" test ! -e "$runtime_a/../data"

# User a again, with a relative XDG_DATA_HOME (not to be used): the same folder, a supplied file
# the user removed is back, a file of their own stays, a folder left open to all (as an earlier
# version laid it out) is closed.
start_umask=022
echo mine >"$runtime_a/mine.txt"
chmod -R go+rX "$work/a"
rm "$runtime_a/ini/lang/Deutsch"
check "second start of user a ends with status 0" \
    run_window "$uid_a" "$runtime_a" "$bindir/orvo-provision-tool" HOME="$work/a" \
    XDG_DATA_HOME=relative/data
check "a relative XDG_DATA_HOME is not used" test ! -e "$work/a/relative"
check "a removed supplied file is supplied again" laid_out "$runtime_a"
check "the user's own file stays" grep -q mine "$runtime_a/mine.txt"
check "a runtime folder open to all is closed" private "$runtime_a" "$uid_b"

checks_done
