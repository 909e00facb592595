#!/usr/bin/env bash
# Ties the documentation to the tool: takes every command word, every option
# and every credential class from the built tool's --help, then checks that
# the bash completion offers exactly these in their places and that the man
# page has a list item for each (".It Cm WORD", ".It Fl OPTION") and none
# for another word. A word that --help names and either of them lacks, or
# one they name and --help does not, fails the test.
#   help_words_test.sh TOOL COMPLETION_FILE PAGE
set -uo pipefail

tool=$1
completion_file=$2
page=$3
failures=0

help=$("$tool" --help) || { echo "FAIL: $tool --help exited with $?"; exit 1; }

# --help names one command a line, after two blanks, under "Commands:"; the
# options in the left column under "Options..."; the classes on the line
# "Classes: admin, ..., user (the default), ...".
mapfile -t commands < <(awk '/^[^ ]/ { section = $0 }
    section ~ /^Commands:/ && /^  [a-z]/ { print $1 }' <<<"$help")
mapfile -t options < <(awk '/^[^ ]/ { section = $0 }
    section ~ /^Options/ && /^  -/ {
        sub(/^  /, ""); sub(/  .*/, ""); gsub(/,/, "")
        for (i = 1; i <= NF; i++) if ($i ~ /^-/) print $i
    }' <<<"$help")
mapfile -t classes < <(sed -n 's/^Classes: *//p' <<<"$help" | sed 's/ *([^)]*)//g' | tr -s ', ' '\n' | grep .)
if ((${#commands[@]} < 7 || ${#options[@]} < 4)); then
    echo "FAIL: --help read as commands [${commands[*]}] and options [${options[*]}]; its layout changed?"
    exit 1
fi

# The man page's list items: every argument of Cm, and of Fl with its dash,
# on an .It line (a delimiter is skipped, another macro ends the run).
mapfile -t items < <(awk '$1 == ".It" {
    macro = ""
    for (i = 2; i <= NF; i++) {
        if ($i ~ /^[A-Z][a-z][a-z]?$/) { macro = $i; continue }
        if ($i ~ /^[,|]$/) continue
        if (macro == "Fl") print "-" $i
        else if (macro == "Cm") print $i
    }
}' "$page")
in_page() {
    local item
    for item in "${items[@]}"; do [[ $item == "$1" ]] && return 0; done
    return 1
}

# shellcheck source=/dev/null
source "$completion_file" || { echo "FAIL: cannot source $completion_file"; exit 1; }
# offers WORD BEFORE...: completing WORD after the words BEFORE offers WORD.
offers() {
    local word=$1 reply
    shift
    COMP_WORDS=(corvane-userdb "$@" "$word")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _corvane_userdb corvane-userdb "$word" "${COMP_WORDS[COMP_CWORD - 1]}"
    for reply in "${COMPREPLY[@]}"; do [[ $reply == "$word" ]] && return 0; done
    return 1
}

# offered BEFORE...: what completing an empty word after BEFORE offers, sorted.
offered() {
    COMP_WORDS=(corvane-userdb "$@" "")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]} "
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _corvane_userdb corvane-userdb "" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
# same KIND GOT WANTED...: GOT (sorted lines) holds exactly WANTED.
same() {
    local kind=$1 got=$2
    shift 2
    if [[ $got != "$(printf '%s\n' "$@" | sort)" ]]; then
        echo "FAIL: the completion offers the ${kind}s [${got//$'\n'/ }], --help names [$*]"
        failures=$((failures + 1))
    fi
}

# check KIND WORD BEFORE...
check() {
    local kind=$1 word=$2
    shift 2
    if ! offers "$word" "$@"; then
        echo "FAIL: the completion does not offer the $kind $word"
        failures=$((failures + 1))
    fi
    if ! in_page "$word"; then
        echo "FAIL: the man page has no list item for the $kind $word"
        failures=$((failures + 1))
    fi
}

for word in "${commands[@]}"; do check command "$word" a.db; done
for word in "${options[@]}"; do check option "$word"; done
for word in "${classes[@]}"; do check class "$word" a.db mod alice; done

same command "$(offered a.db)" "${commands[@]}"
same class "$(offered a.db mod alice)" "${classes[@]}"
COMP_WORDS=(corvane-userdb -)
COMP_CWORD=1
COMPREPLY=()
_corvane_userdb corvane-userdb - corvane-userdb
same option "$(printf '%s\n' "${COMPREPLY[@]}" | sort)" "${options[@]}"
for item in "${items[@]}"; do
    if [[ " ${commands[*]} ${options[*]} ${classes[*]} " != *" $item "* ]]; then
        echo "FAIL: the man page has a list item for $item, which --help does not name"
        failures=$((failures + 1))
    fi
done

((failures == 0)) || exit 1
echo "completion and man page name all ${#commands[@]} commands, ${#options[@]} options and ${#classes[@]} classes of --help"
