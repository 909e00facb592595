#!/usr/bin/env bash
# Renders the man page and checks that it documents every command, every
# credential class and every message the tool prints. Exits 77 (reported as
# skipped) when mandoc is not installed.
#   man_content_test.sh PAGE
set -uo pipefail
if ! command -v mandoc >/dev/null 2>&1; then
    echo "mandoc is not installed: man page not rendered (apt-get install mandoc)"
    exit 77
fi

# One long line per paragraph, runs of blanks squeezed, so that a text is
# found wherever the page breaks its lines.
page=$(mandoc -Tascii -O width=1000 "$1" | col -b | tr -s ' \t' '  ') || exit 1

required=(
    # Synopsis: every command with its arguments.
    "corvane-userdb [-n] [-w seconds] file create"
    "corvane-userdb [-w seconds] file list"
    "corvane-userdb [-n] [-w seconds] file add username password [credentials]"
    "corvane-userdb [-n] [-w seconds] file del username"
    "corvane-userdb [-n] [-w seconds] file mod username credentials"
    "corvane-userdb [-n] [-w seconds] file pass username password"
    "corvane-userdb -i [-n] [-w seconds] file add username [credentials]"
    "corvane-userdb -i [-n] [-w seconds] file pass username"
    "corvane-userdb [-n] [-w seconds] file import"
    "corvane-userdb [-n] [-w seconds] file rename oldname newname"
    "corvane-userdb [-n] [-w seconds] file update"
    "corvane-userdb [-w seconds] file check"
    "corvane-userdb -h | --help | --version"
    "--password-stdin"
    "-w seconds, --wait seconds, --wait=seconds"
    # Every message, as far as it is fixed text.
    "Usage: program filename command [...]"
    "Usage: program filename command synopsis"
    "User name is too long."
    "User name cannot start with white space."
    "User name contains illegal characters."
    "User name must be utf-8 encoded."
    "Password is too long."
    "Password must be utf-8 encoded."
    "Invalid user credentials. Must be one of: 'bot', 'ubot', 'opbot', 'opubot', 'admin', 'super', 'op' or 'user'"
    "Unable to open database: file (result=n)"
    "ERROR: text"
    "ERROR: statement too long"
    "ERROR: out of memory"
    "ERROR: database is locked"
    "Unable to add user \"name\""
    "Unable to delete user \"name\"."
    "Unable to set credentials for user \"name\""
    "Unable to change password for user \"name\""
    "Unable to rename user \"name\""
    "Unsafe database directory: directory (writable by every user)"
    "No password given."
    "Passwords do not match."
    "Unable to read the password: reason"
    "line number: message"
    "line number: expected NICKNAME<TAB>PASSWORD[<TAB>CLASS]"
    "Unable to read standard input: reason"
    "Unable to write standard output: reason"
    # The limits, the file and the sections a reader looks for.
    "at most 64 bytes"
    "CREATE TABLE users("
    "EXIT STATUS"
    "SECURITY CONSIDERATIONS"
    "(mode 0600)"
)
failures=0
for text in "${required[@]}"; do
    if [[ $page != *"$text"* ]]; then
        echo "FAIL: the man page does not show: $text"
        failures=$((failures + 1))
    fi
done
# The eight classes, each as an item of the class list.
for class in admin super op user bot ubot opbot opubot; do
    if ! grep -Eq "^ +$class\$" <<<"$page"; then
        echo "FAIL: the credential class list lacks: $class"
        failures=$((failures + 1))
    fi
done
((failures == 0)) || exit 1
echo "the man page shows every command, class and message"
