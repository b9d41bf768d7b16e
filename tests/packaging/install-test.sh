#!/usr/bin/env bash
# install-test.sh BUILD: installs BUILD into a temporary prefix (cmake --install) and starts the
# window from there as fresh users (start-test.sh).
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
chmod 755 "$prefix"
cmake --install "$1" --prefix "$prefix" >/dev/null
bash "$(dirname "$0")/start-test.sh" "$prefix/bin"
