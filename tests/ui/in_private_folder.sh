#!/bin/sh
# Runs a test program from a copy that lies in a folder only its owner may enter, as a checkout
# made in `mktemp -d` or in root's home does: the cases that run as another user must pass
# wherever the program lies.
# Usage: in_private_folder.sh PROGRAM [TEST FUNCTION...]
set -eu
program=$1
shift
private=$(mktemp -d)
trap 'rm -rf "$private"' EXIT
chmod 0700 "$private"
mkdir "$private/build"
cp "$program" "$private/build/"
cd "$private/build"
"./$(basename "$program")" "$@"
