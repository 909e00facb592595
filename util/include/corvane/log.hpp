// Logging: time-stamped, level-tagged lines to a log file or standard
// error, filtered by a process-wide verbosity, optionally forwarded to the
// system log under the identity "corvane".
//
//   corvane::log_open("/var/log/corvane.log", true);
//   corvane::log_write(corvane::LVL_WARN, "disk %d%% full", 93);
//   // appends "2026-12-09 09:27:38   WARN: disk 93% full\n"
//   corvane::log_close();
//
// The facility keeps process-wide state and static buffers: it serves a
// single-threaded process. No operation reports a failure to its caller.
#pragma once

#include <cstddef>

namespace corvane {

// Lower values are more severe.
enum log_level : int {
    LVL_FATAL,
    LVL_ERROR,
    LVL_WARN,
    LVL_USER,
    LVL_INFO,
    LVL_DEBUG,
    LVL_TRACE,
    LVL_DUMP,
    LVL_MEM,
    LVL_PROTO,
    LVL_PLUGIN
};

// Size of the message buffer, terminator included: longer messages are cut
// to their first 1023 bytes, in the line and in the system log alike.
inline constexpr std::size_t LOG_MESSAGE_LIMIT = 1024;
// Size of the time-stamp buffer, terminator included.
inline constexpr std::size_t LOG_STAMP_LIMIT = 32;

// Sets the process locale (all categories) to "C", turns forwarding to the
// system log on when use_syslog is true (identity "corvane", with the PID),
// and sends lines to the file at path, opened for appending. With no path,
// or a file that cannot be opened, lines go to standard error; the failure
// is not reported. A log file that an earlier call opened is closed first.
void log_open(const char* path, bool use_syslog);

// Closes the log file, if any (later lines go to standard error), and stops
// forwarding to the system log. The verbosity stays as it is.
void log_close();

// Sets the threshold: a message is written as a line only when its level is
// below verbosity (initially 4: FATAL to USER). Forwarding to the system
// log happens only while verbosity is 4 or more, and then for FATAL to
// DEBUG whatever the threshold. No range check.
//   log_set_verbosity(0);  // silence everything, the system log included
void log_set_verbosity(int verbosity);

// Formats a message printf-style and writes it as the line
// "STAMP LEVEL: message\n" (stamp "%Y-%m-%d %H:%M:%S" in local time, level
// name right-aligned in six columns), flushed at once to a log file. Works
// before log_open (to standard error). A level outside LVL_FATAL..LVL_PLUGIN
// writes and sends nothing. Write errors are ignored.
//   log_write(LVL_ERROR, "cannot open %s", path);
void log_write(log_level level, const char* format, ...) noexcept
    __attribute__((format(printf, 2, 3)));

}  // namespace corvane
