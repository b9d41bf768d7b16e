#!/usr/bin/env bash
# package-check.sh: builds the Debian package (scripts/package), checks it with lintian (no
# errors), installs it with apt-get and checks what it installed: the files in their places,
# orvo-cli, the window started offscreen as fresh users (start-test.sh), the man pages (no
# warnings), the bash completion, the metainfo and the desktop entry; then purges it, also when
# a check failed. Needs root or sudo; a copy of the package installed before is purged too.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
here=tests/packaging
# shellcheck source=checks.sh
source "$here/checks.sh"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

scripts/package || exit 1
debs=(build-package/orvo-provision-tool_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { echo "package-check: not one package in build-package/" >&2; exit 1; }
deb=$PWD/${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "package-check: $deb"
dpkg-deb -f "$deb" Depends Recommends

# lintian: every tag shown, errors fail.
lintian_out=$(mktemp)
trap 'rm -f "$lintian_out"; "${sudo[@]}" apt-get purge -y -qq orvo-provision-tool >/dev/null 2>&1' EXIT
lintian --fail-on error --display-info --allow-root "$deb" >"$lintian_out" 2>&1
lintian_status=$?
sed 's/^/lintian: /' "$lintian_out"
check "lintian reports no error" test "$lintian_status" -eq 0
check "Depends comes from the shared libraries" \
    bash -c "dpkg-deb -f '$deb' Depends | grep -q 'libqt6widgets6.*libtinyxml2'"
names_all() { # TEXT WORD...: the text names every word
    local text=$1 word missing=0
    shift
    for word in "$@"; do
        grep -qF -- "$word" <<<"$text" || { echo "does not name: $word" >&2; missing=1; }
    done
    return $missing
}
check "the package description names TFTP, HTTPS and the record" \
    names_all "$(dpkg-deb -f "$deb" Description)" TFTP HTTPS "provisioning record"

"${sudo[@]}" apt-get install -y -qq "$deb" >/dev/null || { echo "package-check: apt-get install failed" >&2; exit 1; }

# The installed files, in their places.
installed() { for file in "$@"; do [[ -e $file ]] || { echo "missing: $file" >&2; return 1; }; done; }
check "the installed layout" installed /usr/bin/orvo-cli /usr/bin/orvo-provision-tool \
    /usr/bin/orvo-provision-tool-start /usr/libexec/orvo-provision-tool/orvo-provision-tool \
    "/usr/share/orvo-provision-tool/ini/\$default.ini" /usr/share/orvo-provision-tool/models/X100 \
    /usr/share/applications/orvo-provision-tool.desktop \
    /usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/orvo-provision-tool.png \
    /usr/share/metainfo/org.example.orvo_provision_tool.metainfo.xml \
    /usr/share/man/man1/{orvo-cli,orvo-provision-tool,orvo-provision-tool-start}.1.gz \
    /usr/share/bash-completion/completions/orvo-cli \
    /usr/share/doc/orvo-provision-tool/{copyright,changelog.gz} \
    /usr/share/doc/orvo-provision-tool/examples/nginx-provisioning.conf \
    /lib/systemd/system/{orvo-serve.service,orvo-access-log@.service} \
    /etc/orvo-provision-tool/{serve.conf,access-log.conf}

# The system services: valid units, shipped disabled, their configuration files conffiles.
verify_units() {
    local out
    out=$(systemd-analyze verify /lib/systemd/system/orvo-serve.service \
        /lib/systemd/system/orvo-access-log@.service 2>&1)
    [[ -z $out ]] || { echo "$out" >&2; return 1; }
}
check "systemd-analyze verify of the services" verify_units
check "the services are not enabled" bash -c \
    '! compgen -G "/etc/systemd/system/*.wants/orvo-*" >/dev/null'
check "the services' configuration files are conffiles" bash -c \
    "dpkg-deb -I '$deb' conffiles | grep -qx /etc/orvo-provision-tool/serve.conf &&
     dpkg-deb -I '$deb' conffiles | grep -qx /etc/orvo-provision-tool/access-log.conf"
for unit in orvo-serve.service orvo-access-log@.service; do
    systemd-analyze security --offline=true "/lib/systemd/system/$unit" 2>&1 | grep 'Overall exposure'
done

# orvo-cli from PATH.
check "orvo-cli --version" test "$(orvo-cli --version)" == "orvo-cli $version"
shows_bin() { # FILE: "kind: bin", then P<n>=<value> lines
    local out
    out=$(orvo-cli show "$1") && [[ $(head -1 <<<"$out") == "kind: bin" ]] &&
        grep -q '^P[0-9]*=' <<<"$out"
}
check "orvo-cli show on a supplied template" \
    shows_bin "/usr/share/orvo-provision-tool/models/X100/\$devCfg.bin"

# The window from the menu's command (found on PATH, as from a terminal), as fresh users.
check "the menu's command is the start script on PATH" test \
    "$(command -v "$(sed -n 's/^Exec=//p' /usr/share/applications/orvo-provision-tool.desktop)")" \
    == /usr/bin/orvo-provision-tool
check "the window starts as fresh users" bash "$here/start-test.sh" /usr/bin

# Man pages: found by man, no warnings from man (as lintian runs it) or mandoc, a whatis entry,
# every orvo-cli option described.
man_clean() {
    local page=$1 out
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    out+=$(mandoc -Tlint -Wwarning "$page" 2>&1)
    [[ -z $out ]] || { echo "$out" >&2; return 1; }
    lexgrog "$page" >/dev/null
}
for page in orvo-cli orvo-provision-tool orvo-provision-tool-start; do
    check "man finds $page" test "$(man -w "$page")" == "$(readlink -f "/usr/share/man/man1/$page.1.gz")"
    check "man page $page without warnings" man_clean "/usr/share/man/man1/$page.1.gz"
done
every_option_described() {
    local text command option missing=0
    text=$(MANWIDTH=200 man -l /usr/share/man/man1/orvo-cli.1.gz 2>/dev/null)
    for command in $(orvo-cli --list-options); do
        grep -q "^   $command\$" <<<"$text" || { echo "no section for $command" >&2; missing=1; }
        while read -r option; do
            [[ $option == --help ]] && continue
            grep -qF -- "       $option" <<<"$text" || { echo "$command: no $option" >&2; missing=1; }
        done < <(orvo-cli --list-options "$command")
    done
    return $missing
}
check "orvo-cli(1) describes every command and option" every_option_described
window_page=$(MANWIDTH=200 man -l /usr/share/man/man1/orvo-provision-tool.1.gz 2>/dev/null)
check "orvo-provision-tool(1) names the six pages, the record and the options" names_all \
    "$window_page" "six pages" "Phone Configuration" "Cfg Batch" "Devices Online" Servers Tools \
    Provisioning "provisioning record" db/provisioning.sqlite --help --version
# The examples of orvo-cli(1), as the page shows them, run in an empty folder: the files they
# name are installed, and a batch of the supplied template and sample CSV leaves no placeholder
# unfilled (nothing on stderr).
examples_run() {
    local folder script status
    folder=$(mktemp -d)
    script=$(MANWIDTH=300 man -l /usr/share/man/man1/orvo-cli.1.gz 2>/dev/null |
        sed -n '/^EXAMPLES/,/^SEE ALSO/p' | sed -n 's/^ *\(mkdir .*\|orvo-cli .*\)$/\1/p')
    [[ $(grep -c '^orvo-cli batch' <<<"$script") -ge 1 ]] || { echo "no batch example" >&2; return 1; }
    (cd "$folder" && bash -e -c "$script" >"$folder/.out" 2>"$folder/.err")
    status=$?
    [[ $status -eq 0 && ! -s $folder/.err ]] || { echo "$script" >&2; cat "$folder/.err" >&2; }
    [[ $status -eq 0 && ! -s $folder/.err ]] && grep -q '^P1004=201$' "$folder/.out"
    status=$?
    rm -rf "$folder"
    return $status
}
check "the examples of orvo-cli(1) run" examples_run

# The completion loads as bash-completion loads it, and completes from the installed orvo-cli.
check "complete -p orvo-cli" test "$(bash -c 'source /usr/share/bash-completion/completions/orvo-cli; complete -p orvo-cli')" == "complete -F _orvo_cli orvo-cli"
check "the installed completion completes" \
    bash "$here/completion-test.sh" /usr/bin /usr/share/bash-completion/completions/orvo-cli

check "appstreamcli validate" appstreamcli validate --no-net \
    /usr/share/metainfo/org.example.orvo_provision_tool.metainfo.xml
check "desktop-file-validate" desktop-file-validate /usr/share/applications/orvo-provision-tool.desktop
check "the desktop entry speaks German" names_all \
    "$(cat /usr/share/applications/orvo-provision-tool.desktop)" "GenericName[de]=" "Comment[de]="
check "the metainfo speaks German" names_all \
    "$(cat /usr/share/metainfo/org.example.orvo_provision_tool.metainfo.xml)" \
    '<summary xml:lang="de">' '<p xml:lang="de">'

"${sudo[@]}" apt-get purge -y -qq orvo-provision-tool >/dev/null
check "apt-get purge removes the programs" test ! -e /usr/bin/orvo-cli -a ! -e /usr/libexec/orvo-provision-tool
check "apt-get purge removes the services and their configuration" \
    test ! -e /lib/systemd/system/orvo-serve.service -a ! -e /etc/orvo-provision-tool
checks_done
