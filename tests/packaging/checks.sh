# shellcheck shell=bash
# Sourced by the packaging tests: check WHAT COMMAND... counts one result and names a failure;
# checks_done prints "NAME: N passed, N failed" and gives the status.
passed=0 failed=0
check() {
    if "${@:2}"; then
        passed=$((passed + 1))
    else
        echo "${0##*/}: FAIL: $1" >&2
        failed=$((failed + 1))
    fi
}
checks_done() {
    echo "${0##*/}: $passed passed, $failed failed"
    [[ $failed -eq 0 ]]
}
