#!/usr/bin/env bash
# Checks the syntax of udev rule files. With `udevadm verify` where udev has
# it (systemd 253 and later); otherwise by the rules' grammar: each line a
# comma-separated list of KEY[{attribute}] OPERATOR "value", a match key with
# == or !=, an assignment key with =, +=, -= or :=, each key known to udev,
# and each GOTO with its LABEL.
# Usage: scripts/check-udev-rules.sh FILE...
set -euo pipefail

if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    exec udevadm verify "$@"
fi

match_keys=" ACTION DEVPATH KERNEL KERNELS NAME SYMLINK SUBSYSTEM SUBSYSTEMS DRIVER DRIVERS ATTR ATTRS SYSCTL ENV CONST TAG TAGS TEST PROGRAM RESULT "
assign_keys=" NAME SYMLINK OWNER GROUP MODE SECLABEL ATTR SYSCTL ENV TAG RUN LABEL GOTO IMPORT OPTIONS "
keyed=" ATTR ATTRS SYSCTL ENV CONST TEST IMPORT RUN SECLABEL "
token_re='^([A-Z]+)(\{([^}]+)\})?(==|!=|\+=|-=|:=|=)"([^"]*)"$'

status=0
for file in "$@"; do
    complain() { echo "$file:$number: $1" >&2; status=1; }
    gotos=()
    labels=()
    number=0
    while IFS= read -r line || [ -n "$line" ]; do
        number=$((number + 1))
        [[ "$line" =~ ^[[:space:]]*(#.*)?$ ]] && continue
        IFS=',' read -ra tokens <<<"$line"
        for token in "${tokens[@]}"; do
            token=${token#"${token%%[![:space:]]*}"}
            token=${token%"${token##*[![:space:]]}"}
            if ! [[ "$token" =~ $token_re ]]; then
                complain "not KEY OPERATOR \"value\": $token"
                continue
            fi
            key=${BASH_REMATCH[1]} attribute=${BASH_REMATCH[3]} op=${BASH_REMATCH[4]} value=${BASH_REMATCH[5]}
            if [[ -n "$attribute" && "$keyed" != *" $key "* ]]; then
                complain "$key takes no {attribute}"
            elif [[ -z "$attribute" && "$keyed" == *" $key "* && "$key" != IMPORT && "$key" != RUN ]]; then
                complain "$key needs an {attribute}"
            fi
            case "$op" in
                ==|!=) [[ "$match_keys" == *" $key "* ]] || complain "$key is not a match key" ;;
                *) [[ "$assign_keys" == *" $key "* ]] || complain "$key cannot be assigned" ;;
            esac
            [ "$key" = GOTO ] && gotos+=("$value")
            [ "$key" = LABEL ] && labels+=("$value")
        done
    done <"$file"
    for target in "${gotos[@]}"; do
        [[ " ${labels[*]} " == *" $target "* ]] || { number=end; complain "GOTO \"$target\" has no LABEL"; }
    done
done
[ "$status" -eq 0 ] && echo "udev rules: syntax ok: $*"
exit "$status"
