#!/usr/bin/env bash
# Checks the bash completion of tavio-flash against the program it completes:
# each command line of the table below must be offered exactly the words it
# names, in a scratch folder holding one file and one folder. Needs the
# bash-completion package (its helpers are what the completion builds on).
# Usage: scripts/check-completion.sh PROGRAM COMPLETION_FILE
set -euo pipefail
program=$(realpath "$1")
completion=$(realpath "$2")
fail() { echo "completion check: $*" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavio-completion.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/work/images"
touch "$scratch/work/fw.img"

# What the completion offers for the words typed so far (the last one is the
# word under the cursor), sorted, on one line.
offered() {
    (cd "$scratch/work" && HOME=$scratch XDG_DATA_HOME=$scratch/data bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        shift
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        _tavio_flash "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort | xargs' _ "$completion" "$program" "$@")
}

# Every option the help lists, read with a pattern of its own.
options=$("$program" --help | grep -oE '^  -[^ ,]+(, --[^ ]+)?' | grep -oE -- '-[-a-z]*[a-zA-Z]' | sort | xargs)
ports=$(compgen -G '/dev/ttyACM*'; compgen -G '/dev/ttyUSB*' || true)
ports=$(sort <<<"$ports" | xargs)
[[ "$options" == *--port* && "$options" == *--log* ]] || fail "the help lists no --port or --log: $options"

# words typed | expected
cases=(
    "'' | info list upgrade"
    "u | upgrade"
    "- | $options"
    "--wa | --watch"
    "--json '' | info list upgrade"
    "--log '' | fw.img images"
    "--log x '' | info list upgrade"
    "--log=fw | fw.img"
    "--json= | "
    "--vid '' | "
    "--port '' | $ports"
    "upgrade '' | fw.img images"
    "upgrade fw | fw.img"
    "upgrade fw.img '' | "
    "info '' | "
)
words=()
for entry in "${cases[@]}"; do
    eval "words=(${entry%%|*})"
    expected=$(xargs <<<"${entry#*|}")
    got=$(offered "${words[@]}")
    [ "$got" = "$expected" ] || fail "tavio-flash ${entry%%|*}: offered \"$got\", expected \"$expected\""
done
echo "completion: ${#cases[@]} command lines complete as expected"
