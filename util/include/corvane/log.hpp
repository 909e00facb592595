// Logging: time-stamped, level-tagged lines to a log file or standard
// error, filtered by a process-wide verbosity, optionally forwarded to the
// system log under the identity "corvane".
//
// The facility keeps process-wide state and static buffers: it serves a
// single-threaded process.
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

// Size of the message buffer, terminator included: longer messages are cut.
inline constexpr std::size_t LOG_MESSAGE_LIMIT = 1024;
// Size of the time-stamp buffer, terminator included.
inline constexpr std::size_t LOG_STAMP_LIMIT = 32;

void log_open(const char* path, bool use_syslog);
void log_close();
void log_set_verbosity(int verbosity);
void log_write(log_level level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace corvane
