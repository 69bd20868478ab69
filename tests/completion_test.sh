#!/usr/bin/env bash
# The bash completion of vrk, as bash calls it: sourced into a shell, then the completion
# function with the words typed so far; and against vrk's table of options, which the program
# OPTION_TABLE prints. Usage: completion_test.sh COMPLETION_FILE OPTION_TABLE
set -u
source "$1" || exit 1
table=$("$2") || exit 1
cd "$(mktemp -d)" || exit 1
touch app.vr4 other.bin station.toml
mkdir fw

failures=0
# expect "WORDS TYPED" "WORDS OFFERED, sorted" (the last typed word is the one completed)
expect() {
    read -r -a COMP_WORDS <<< "$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _vrk
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [[ $got != "$2" ]]; then
        echo "FAIL: '$1' offered '$got', expected '$2'"
        failures=$((failures + 1))
    fi
}

expect "vrk pro" "program"
expect "vrk s" "set set-id"
expect "vrk --json l" "log"
expect "vrk download " "app.vr4 fw"
expect "vrk --port /dev/x program a" "app.vr4"
expect "vrk program --recipe " "fw station.toml"
expect "vrk program --then " "qb7 run"
expect "vrk program --set " "external= gps= internal="
expect "vrk log --format " "csv jsonl"
expect "vrk report --format " "csv json text"
expect "vrk report --by " "day hour lot operator port station"
expect "vrk report --u" "--until --utc"
expect "vrk rep" "report"
expect "vrk log --f" "--format"
expect "vrk program --new" "--new-id"
expect "vrk download --no" "--no-verify"
expect "vrk info --no" ""
expect "vrk set " "external gps internal"
expect "vrk set gps " ""
expect "vrk --id-format L{} program --station" "--station-number"
expect "vrk info extra " ""

sorted() { printf '%s\n' "$@" | sort | xargs; }
# Each command is offered exactly the options it takes; before a command, the general ones;
# an option's value is passed over when the command is looked for, and is not taken for one.
declare -A of_command
while read -r kind name rest; do
    case $kind in
        command)
            read -r -a options <<< "$rest"
            of_command[$name]=$(sorted "${options[@]}")
            expect "vrk $name --" "${of_command[$name]}" ;;
        general) read -r -a options <<< "$name $rest"; expect "vrk --" "$(sorted "${options[@]}")" ;;
        value)
            expect "vrk $name x $rest --" "${of_command[$rest]}"
            read -r -a COMP_WORDS <<< "vrk $name"
            COMP_WORDS+=("")
            COMP_CWORD=2
            COMPREPLY=()
            _vrk
            if [[ " ${COMPREPLY[*]} " == *" info "* ]]; then
                echo "FAIL: the value of $name is completed as a command"
                failures=$((failures + 1))
            fi ;;
    esac
done <<< "$table"

if ((failures > 0)); then exit 1; fi
echo "completion: all cases pass"
