# bash completion for orvo-cli: its commands, each command's options and their values. The
# names come from the program itself (orvo-cli --list-options [COMMAND]), so the completion
# follows the orvo-cli that is installed.
_orvo_cli() {
    local program=$1 cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W '--help --version' -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "help $("$program" --list-options 2>/dev/null)" -- "$cur")
        fi
        return 0
    fi
    local command=${COMP_WORDS[1]}
    if [[ $command == help ]]; then
        ((COMP_CWORD == 2)) &&
            mapfile -t COMPREPLY < <(compgen -W "$("$program" --list-options 2>/dev/null)" -- "$cur")
        return 0
    fi

    # A command with a subcommand ("orvo-cli record import ..."): its usage line names it first.
    if ((COMP_CWORD == 2)) && [[ $cur != -* ]]; then
        local subcommand
        subcommand=$("$program" help "$command" 2>/dev/null |
            sed -n "1s/^usage: orvo-cli $command \([a-z][a-z]*\)\( .*\)\{0,1\}\$/\1/p")
        if [[ -n $subcommand ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$subcommand" -- "$cur")
            return 0
        fi
    fi

    # The command's options, one a line: "--name" or "--name VALUE".
    local name value options=()
    local -A values=()
    while read -r name value; do
        options+=("$name")
        values[$name]=$value
    done < <("$program" --list-options "$command" 2>/dev/null)
    ((${#options[@]})) || return 0

    if [[ $prev == --* && -n ${values[$prev]:-} ]]; then
        case ${values[$prev]} in
            *'|'*) mapfile -t COMPREPLY < <(compgen -W "${values[$prev]//|/ }" -- "$cur") ;;
            FILE | INI)
                compopt -o filenames
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
                ;;
            DIR)
                compopt -o filenames
                mapfile -t COMPREPLY < <(compgen -d -- "$cur")
                ;;
        esac
        return 0
    fi
    if [[ $cur == -* ]]; then
        # Each option once: those already on the line are left out.
        local unused=() word
        for name in "${options[@]}"; do
            for word in "${COMP_WORDS[@]:2:COMP_CWORD-2}"; do
                [[ $word == "$name" ]] && continue 2
            done
            unused+=("$name")
        done
        mapfile -t COMPREPLY < <(compgen -W "${unused[*]}" -- "$cur")
        return 0
    fi
    compopt -o filenames
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -F _orvo_cli orvo-cli
