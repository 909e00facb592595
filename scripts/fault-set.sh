#!/usr/bin/env bash
# Puts deliberate faults into tool/ and util/, one at a time, and checks that
# the tests catch each one: a check skipped, a limit off by one, a message
# changed, a lock not taken, ... For each fault it edits the source in
# place, rebuilds (one build directory, incrementally), runs ctest, records
# caught (a test failed) or missed (every test passed), and puts the file
# back, also when the run is interrupted.
#
#   scripts/fault-set.sh              every fault
#   scripts/fault-set.sh NAME...      just these
#   scripts/fault-set.sh --list       the faults, without running them
#   scripts/fault-set.sh --check      whether each fault's edit still applies
#
# FAULT_BUILD_DIR picks the build directory (default build/dev, configured
# with the dev preset when it is not there yet). FAULT_CTEST_ARGS replaces
# the ctest arguments (default: every test, slow ones included, two at a
# time). The tree itself must build and pass first, or nothing would mean
# anything. Prints one line per fault and a summary; exits 1 when a fault
# was missed, did not apply or did not build.
#
# Each edit matches code, not line numbers, so that it survives small
# changes around it. An edit whose text is no longer there is reported as
# "not applied": find the code it was aimed at and change the pattern.
set -uo pipefail
cd "$(dirname "$0")/.."

build_dir=${FAULT_BUILD_DIR:-build/dev}
read -r -a ctest_args <<<"${FAULT_CTEST_ARGS:---output-on-failure -j2 --timeout 300}"
saves=$(mktemp -d "${TMPDIR:-/tmp}/fault-set.XXXXXX")
logs="$build_dir/fault-set"

# ------------------------------------------------------------ mechanics

edited=()   # files the current fault changed
applied=1   # whether every edit of the current fault found its text

restore() {
    local file
    for file in "${edited[@]}"; do
        # A plain copy, so the file is newer than the faulty build's objects
        # and the next build compiles it again.
        cp -- "$saves/${file//\//_}" "$file"
    done
    edited=()
}
trap 'restore; rm -rf "$saves"' EXIT
trap 'exit 130' INT TERM

# edit PERL-SUBSTITUTION FILE...: applies the substitution (perl, the whole
# file as one string) to each file that exists; at least one must change.
edit() {
    local expression=$1 file changed=0
    shift
    for file in "$@"; do
        [[ -f $file ]] || continue
        cp -- "$file" "$saves/${file//\//_}"
        perl -0777 -pi -e "$expression" "$file"
        if cmp -s -- "$file" "$saves/${file//\//_}"; then
            rm -f -- "$saves/${file//\//_}"
        else
            edited+=("$file")
            changed=1
        fi
    done
    if ((changed == 0)); then
        applied=0
        echo "    text not found for: $expression" >>"$logs/current.log"
    fi
}

build() { cmake --build "$build_dir" -j2 >>"$1" 2>&1; }
run_tests() { ctest --test-dir "$build_dir" "${ctest_args[@]}" >>"$1" 2>&1; }

# The names of the failed tests in a ctest log, comma-separated.
failed_tests() {
    sed -n 's/^[[:space:]]*[0-9][0-9]* - \([^ ]*\) .*/\1/p' "$1" | head -4 | paste -sd, -
}

caught=0 missed=0 not_applied=0 no_build=0 total=0
summary_missed=()

# fault NAME DESCRIPTION FUNCTION: applies FUNCTION's edits, builds, tests,
# restores.
fault() {
    local name=$1 what=$2 apply=$3
    ((total++))
    local log="$logs/$name.log"
    : >"$logs/current.log"
    applied=1
    "$apply"
    mv "$logs/current.log" "$log"
    if ((applied == 0)); then
        restore
        ((not_applied++))
        summary_missed+=("$name")
        printf '%-12s %-26s %s\n' "NOT APPLIED" "$name" "$what"
        return
    fi
    if ! build "$log"; then
        restore
        ((no_build++))
        summary_missed+=("$name")
        printf '%-12s %-26s %s\n' "NO BUILD" "$name" "$what"
        return
    fi
    if run_tests "$log"; then
        ((missed++))
        summary_missed+=("$name")
        printf '%-12s %-26s %s\n' "MISSED" "$name" "$what"
    else
        ((caught++))
        printf '%-12s %-26s %s  [%s]\n' "caught" "$name" "$what" "$(failed_tests "$log")"
    fi
    restore
}

# ------------------------------------------------------------ the faults

tool_sources=(tool/*.cpp tool/*.hpp)

# The tool: checks of the fields.
f_nickname_limit() { edit 's/size\(\) > NICKNAME_LIMIT\b/size() > NICKNAME_LIMIT + 1/' "${tool_sources[@]}"; }
f_leading_blank() { edit 's/char_is_blank\(nickname\[0\]\)/false/' "${tool_sources[@]}"; }
f_password_utf8() { edit 's/!utf8_valid_n\(password\.data\(\), password\.size\(\)\)/false/' "${tool_sources[@]}"; }
f_import_fields() { edit 's/if \(line\.tabs < 3\) \+\+line\.tabs/if (line.tabs < 2) ++line.tabs/' "${tool_sources[@]}"; }
# The tool: messages and invocation.
f_delete_message() { edit 's/Unable to delete user \\"%s\\"\./Unable to delete user \\"%s\\"/' "${tool_sources[@]}"; }
f_help_anywhere() { edit 's/(\(option == "--help" \|\| option == "-h"\)) && \*next == 1/$1/' "${tool_sources[@]}"; }
# The tool: the database file.
f_lock_not_taken() { edit 's/(sqlite3_open_v2\([^;]*?)nullptr\s*\)/$1"unix-none")/s' "${tool_sources[@]}"; }
f_begin_deferred() { edit 's/BEGIN IMMEDIATE;/BEGIN DEFERRED;/' "${tool_sources[@]}"; }
f_sync_lowered() { edit 's/synchronous=EXTRA/synchronous=FULL/' "${tool_sources[@]}"; }
f_quotes_kept_single() { edit "s/\\*out\\+\\+ = '\\\\'';/(void)0;/" "${tool_sources[@]}"; }
f_statement_limit() { edit 's/(\(length\)) >= sizeof statement/$1 > sizeof statement/' "${tool_sources[@]}"; }
f_unsafe_directory() { edit 's/\(info\.st_mode & S_IWOTH\) == 0/true/' "${tool_sources[@]}"; }
f_group_readable() { edit 's/umask\(S_IRWXG \| S_IRWXO\)/umask(S_IRWXO)/' "${tool_sources[@]}"; }
f_rename_unchecked() { edit 's/\n\s*check_nickname\(call\.args\[1\]\);//' "${tool_sources[@]}"; }
f_update_count() { edit 's/\(kind_ == kind::add \|\| sqlite3_changes\(account_db\) == static_cast<int>\(size\)\)/true/' "${tool_sources[@]}"; }
f_check_twins() { edit 's/if \(unique && !run\.other_nicknames\) return true;/return true;/' "${tool_sources[@]}"; }
f_check_one_connection() { edit 's/check_integrity\(&integrity\);\n/integrity.done = true;\n/' "${tool_sources[@]}"; }
f_dry_run_commits() { edit 's/"ROLLBACK;"/"COMMIT;"/g' "${tool_sources[@]}"; }
f_import_lost_tx() { edit 's/if \(sqlite3_get_autocommit\(account_db\) != 0\) return stop\(first\);//; s/return sqlite3_get_autocommit\(account_db\) == 0;/return true;/' "${tool_sources[@]}"; }
# The tool: the terminal.
f_terminal_filter() { edit 's/isatty\(STDOUT_FILENO\)/isatty(-1)/' "${tool_sources[@]}"; }
f_bidi_override() { edit 's/c <= 0x202E/c <= 0x202D/' "${tool_sources[@]}"; }
f_echo_stays_on() { edit 's/\(ECHO \| ECHOE/(ECHOE/' "${tool_sources[@]}"; }
# The library.
f_utf8_surrogates() {
    # In the scalar walk and in the tables every vector kernel uses.
    edit 's/(lead == 0xED\) return \{2, 0x80, )0x9F\}/${1}0xBF}/' util/src/utf8_scalar.cpp
    edit 's/SURROGATE = 1 << 4;/SURROGATE = 0;/' util/src/utf8_x86.cpp
}
f_base32_tail() { edit 's/next >> \(11 - offset\)/next >> (12 - offset)/' util/src/base32.cpp; }
f_clock_in_utc() { edit 's/std::localtime\(&when\)/std::gmtime(&when)/' util/src/convert.cpp; }
f_byte_size_unit() { edit 's/bytes <= 1024u/bytes < 1024u/' util/src/convert.cpp; }
f_token_stop() { edit 's/callback\(trimmed, number, context\) >= 0/callback(trimmed, number, context) > 0/' util/src/text.cpp; }
f_plist_last() { edit 's/\n\s*if \(list->last == node\) list->last = node->prev;//' util/src/plist.cpp; }
f_log_no_tzset() { edit 's/\n\s*tzset\(\);//' util/src/log.cpp; }
f_log_to_stdout() { edit 's/\? log_file : stderr/? log_file : stdout/' util/src/log.cpp; }

faults=(
    "nickname-limit|a 65-byte nickname passes|f_nickname_limit"
    "leading-blank|a nickname may start with a blank|f_leading_blank"
    "password-utf8|a password is not checked for UTF-8|f_password_utf8"
    "import-fields|an import line's fourth field is not refused|f_import_fields"
    "delete-message|del's failure message loses its period|f_delete_message"
    "help-anywhere|--help counts after other options|f_help_anywhere"
    "lock-not-taken|the database is opened without file locks|f_lock_not_taken"
    "begin-deferred|import begins DEFERRED, not IMMEDIATE|f_begin_deferred"
    "sync-lowered|PRAGMA synchronous FULL, not EXTRA|f_sync_lowered"
    "quotes-kept-single|quotes are not doubled in statements|f_quotes_kept_single"
    "statement-limit|a statement one byte too long runs cut short|f_statement_limit"
    "unsafe-directory|a directory every user may write is accepted|f_unsafe_directory"
    "group-readable|new files are readable by the group|f_group_readable"
    "import-lost-tx|an import goes on after its transaction is lost|f_import_lost_tx"
    "rename-unchecked|rename's new nickname is not held to add's rules|f_rename_unchecked"
    "update-count|an update piece's changed rows are not counted|f_update_count"
    "check-twins|check misses nicknames stored twice|f_check_twins"
    "check-one-connection|check skips the integrity check when it has one connection|f_check_one_connection"
    "dry-run-commits|the dry run commits its change|f_dry_run_commits"
    "terminal-filter|the listing is never filtered for a terminal|f_terminal_filter"
    "bidi-override|U+202E reaches the terminal|f_bidi_override"
    "echo-stays-on|the typed password is echoed|f_echo_stays_on"
    "utf8-surrogates|surrogates pass, in every kernel and the scalar walk|f_utf8_surrogates"
    "base32-tail|the encoder's last partial group takes wrong bits|f_base32_tail"
    "clock-in-utc|clock_stamp shows UTC, not local time|f_clock_in_utc"
    "byte-size-unit|1024 bytes shown as 1 KiB|f_byte_size_unit"
    "token-stop|for_each_token stops when the callback returns 0|f_token_stop"
    "plist-last|plist_remove leaves the removed last node as last|f_plist_last"
    "log-no-tzset|log stamps miss a change of TZ|f_log_no_tzset"
    "log-to-stdout|log lines without a file go to standard output|f_log_to_stdout"
)

if [[ ${1:-} == --list ]]; then
    for entry in "${faults[@]}"; do
        IFS='|' read -r name what _ <<<"$entry"
        printf '%-26s %s\n' "$name" "$what"
    done
    exit 0
fi

if [[ ${1:-} == --check ]]; then
    logs=$saves
    status=0
    for entry in "${faults[@]}"; do
        IFS='|' read -r name what apply <<<"$entry"
        : >"$logs/current.log"
        applied=1
        "$apply"
        if ((applied)); then
            printf '%-12s %-26s %s\n' "applies" "$name" "$(git diff --stat -- "${edited[@]}" | head -n -1 | awk '{print $1}' | paste -sd' ' -)"
        else
            printf '%-12s %-26s %s\n' "NOT APPLIED" "$name" "$(cat "$logs/current.log")"
            status=1
        fi
        restore
    done
    exit $status
fi

# ------------------------------------------------------------ the run

if [[ ! -f $build_dir/CMakeCache.txt ]]; then
    cmake --preset dev -B "$build_dir" >/dev/null || exit 2
fi
mkdir -p "$logs"
echo "fault set: build $build_dir, ctest ${ctest_args[*]}"
if ! build "$logs/baseline.log" || ! run_tests "$logs/baseline.log"; then
    echo "the tree without faults does not build or pass: see $logs/baseline.log" >&2
    exit 2
fi

for entry in "${faults[@]}"; do
    IFS='|' read -r name what apply <<<"$entry"
    if (($# > 0)); then
        wanted=0
        for arg in "$@"; do [[ $arg == "$name" ]] && wanted=1; done
        ((wanted)) || continue
    fi
    fault "$name" "$what" "$apply"
done

echo "faults: $total, caught: $caught, missed: $missed, not applied: $not_applied, did not build: $no_build"
if ((${#summary_missed[@]} > 0)); then
    echo "not caught: ${summary_missed[*]} (logs in $logs)"
    exit 1
fi
