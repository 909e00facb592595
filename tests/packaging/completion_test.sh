#!/usr/bin/env bash
# Drives the bash completion in a real bash: sources it, checks that it is
# registered for corvane-userdb, then completes command lines and compares
# COMPREPLY with what is expected.
#   completion_test.sh COMPLETION_FILE
set -uo pipefail

completion_file=$1
failures=0

# shellcheck source=/dev/null
source "$completion_file" || { echo "FAIL: cannot source $completion_file"; exit 1; }

registered=$(complete -p corvane-userdb 2>&1)
if [[ $registered != "complete -F _corvane_userdb corvane-userdb" ]]; then
    echo "FAIL: registration is: $registered"
    failures=$((failures + 1))
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/alpha dir"
touch "$scratch/alpha.db" "$scratch/beta.db"
cd "$scratch" || exit 1

# expect "LINE" "EXPECTED...": completes the last word of LINE (a trailing
# space means a new, empty word) and wants exactly the EXPECTED words, in
# any order.
expect() {
    local line=$1
    shift
    # Words split as bash splits them for completion: blanks, and '=' on
    # its own (it is in COMP_WORDBREAKS).
    read -r -a COMP_WORDS <<<"${line//=/ = }"
    [[ $line == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=(unset)
    _corvane_userdb corvane-userdb "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"

    local got want
    got="${#COMPREPLY[@]}:$(printf '%s\n' "${COMPREPLY[@]}" | sort)"
    want="$#:$(printf '%s\n' "$@" | sort)"
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line' completed to [${COMPREPLY[*]}], expected [$*]"
        failures=$((failures + 1))
    fi
}

classes=(admin super op user bot ubot opbot opubot)
# The command words as offered after a file name (help_words_test.sh holds
# them to the tool's --help): the same after options.
COMP_WORDS=(corvane-userdb a.db "")
COMP_CWORD=2
_corvane_userdb corvane-userdb "" a.db
commands=("${COMPREPLY[@]}")
[[ " ${commands[*]} " == *" add "* ]] || { echo "FAIL: no command words: [${commands[*]}]"; exit 1; }
options=(-i --password-stdin -n --dry-run -w --wait -h --help --version --)

# The file argument: file names, spaces kept inside one word.
expect "corvane-userdb al" "alpha dir" "alpha.db"
expect "corvane-userdb b" "beta.db"
expect "corvane-userdb zz"

# The command word: a first letter offers the commands that begin with it,
# after options too.
for letter in {a..z}; do
    mapfile -t begun < <(printf '%s\n' "${commands[@]}" | grep "^$letter")
    expect "corvane-userdb a.db $letter" "${begun[@]}"
    expect "corvane-userdb -n a.db $letter" "${begun[@]}"
done

# add: nickname, password, then the class.
expect "corvane-userdb a.db add "
expect "corvane-userdb a.db add alice "
expect "corvane-userdb a.db add alice secret " "${classes[@]}"
expect "corvane-userdb a.db add alice secret op" op opbot opubot
expect "corvane-userdb a.db add alice secret u" user ubot
expect "corvane-userdb a.db add alice secret admin "

# mod: nickname, then the class.
expect "corvane-userdb a.db mod "
expect "corvane-userdb a.db mod alice " "${classes[@]}"
expect "corvane-userdb a.db mod alice s" super
expect "corvane-userdb a.db mod alice super "

# The other commands take no class anywhere.
expect "corvane-userdb a.db del "
expect "corvane-userdb a.db pass alice "
expect "corvane-userdb a.db pass alice secret "
expect "corvane-userdb a.db list "
expect "corvane-userdb a.db create "

# Options before the file; -i moves add's class one place left; after --
# a word beginning with - is the file.
expect "corvane-userdb -" "${options[@]}"
expect "corvane-userdb --v" --version
expect "corvane-userdb -i al" "alpha dir" "alpha.db"
expect "corvane-userdb -i a.db " "${commands[@]}"
expect "corvane-userdb -i a.db add alice " "${classes[@]}"
expect "corvane-userdb -i a.db add alice op "
expect "corvane-userdb -i a.db pass alice "
expect "corvane-userdb --password-stdin -- a.db mod alice " "${classes[@]}"
# -w/--wait: nothing for SECONDS, in any of its three spellings; after it
# the file and the command as after any other option.
expect "corvane-userdb --w" --wait
expect "corvane-userdb -w "
expect "corvane-userdb -w 1"
expect "corvane-userdb --wait "
expect "corvane-userdb --wait="
expect "corvane-userdb --wait=1"
expect "corvane-userdb -w 5 al" "alpha dir" "alpha.db"
expect "corvane-userdb --wait 5 -i a.db " "${commands[@]}"
expect "corvane-userdb --wait=5 -i a.db add alice " "${classes[@]}"
expect "corvane-userdb -i -w 5 -" "${options[@]}"
expect "corvane-userdb -w 5 -- a.db mod alice " "${classes[@]}"
touch -- "-odd.db"
expect "corvane-userdb -- -o" "-odd.db"

if ((failures > 0)); then
    echo "$failures completion case(s) failed"
    exit 1
fi
echo "all completion cases passed"
