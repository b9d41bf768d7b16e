#!/usr/bin/env bash
# completion-test.sh BINDIR COMPLETION: the bash completion of orvo-cli, with BINDIR's orvo-cli
# on PATH, asked as bash asks it when TAB is pressed after each line of the table below.
set -uo pipefail
PATH="$(cd "$1" && pwd):$PATH"
export PATH
# shellcheck source=/dev/null
source "$2"
compopt() { :; } # only valid while bash itself completes; the file names are what is checked
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/folder" && touch "$work/file.cfg"
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"

# expect "WORDS ON THE LINE" "EXPECTED REPLY": the last word is the one completed ('' for an
# empty word); the reply is sorted and joined by blanks.
expect() {
    local words
    read -r -a words <<<"$1"
    [[ $1 == *' ' ]] && words+=("")
    COMP_WORDS=("${words[@]}")
    COMP_CWORD=$((${#words[@]} - 1))
    COMPREPLY=()
    complete -p orvo-cli >/dev/null && _orvo_cli orvo-cli "${words[-1]}" "${words[-2]}"
    local reply
    reply=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
    check "'$1' gives '$reply', expected '$2'" test "$reply" == "$2"
}

commands=$(orvo-cli --list-options)
options() { orvo-cli --list-options "$1" | cut -d ' ' -f 1 | sort; }
# shellcheck disable=SC2086 # one word per command
expect "orvo-cli " "$(printf '%s\n' help $commands | sort | paste -sd ' ')"
expect "orvo-cli ba" "batch"
expect "orvo-cli --v" "--version"
expect "orvo-cli help se" "serve"
expect "orvo-cli help serve " ""
expect "orvo-cli batch --fo" "--format"
expect "orvo-cli batch --format " "bin xml"
expect "orvo-cli batch --mode p" "pin"
expect "orvo-cli convert --to xml-" "xml-encrypted"
expect "orvo-cli batch --scramble --s" "$(options batch | grep -e '^--s' | grep -v -e --scramble | paste -sd ' ')"
expect "orvo-cli serve --root $work/" "$work/folder"
expect "orvo-cli batch --template $work/f" "$work/file.cfg $work/folder"
expect "orvo-cli show $work/fi" "$work/file.cfg"
expect "orvo-cli convert --key " ""
expect "orvo-cli serve --" "$(options serve | paste -sd ' ')"
expect "orvo-cli nosuch --" ""
expect "orvo-cli record " "import"
expect "orvo-cli record im" "import"
expect "orvo-cli record import --f" "--follow --format"
expect "orvo-cli record import --format " "combined common"
expect "orvo-cli record import --record $work/f" "$work/file.cfg $work/folder"

checks_done
