#include <corvane/log.hpp>

#include <array>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include <syslog.h>

namespace corvane {

namespace {

// Names written in log lines, in level order, closed by a null entry.
constexpr std::array<const char*, 12> level_names = {"FATAL", "ERROR", "WARN",   "USER",
                                                     "INFO",  "DEBUG", "TRACE",  "DUMP",
                                                     "MEM",   "PROTO", "PLUGIN", nullptr};

// System-log priority of levels FATAL to DEBUG; higher levels are not
// forwarded. USER messages go to the news facility, all others to daemon.
constexpr std::array<int, 6> syslog_priorities = {
    LOG_DAEMON | LOG_CRIT,     // FATAL  26
    LOG_DAEMON | LOG_ERR,      // ERROR  27
    LOG_DAEMON | LOG_WARNING,  // WARN   28
    LOG_NEWS | LOG_INFO,       // USER   62
    LOG_DAEMON | LOG_INFO,     // INFO   30
    LOG_DAEMON | LOG_DEBUG,    // DEBUG  31
};

// Forwarding is open only from this verbosity upwards.
constexpr int SYSLOG_MIN_VERBOSITY = 4;

int log_verbosity = 4;
bool log_use_syslog = false;
std::FILE* log_sink = nullptr;  // none: lines go to stderr, unflushed
char log_message_buf[LOG_MESSAGE_LIMIT];
char log_stamp_buf[LOG_STAMP_LIMIT];

bool valid_level(int level) noexcept { return level >= LVL_FATAL && level <= LVL_PLUGIN; }

// Closes a log file we opened; standard error is never closed.
void close_sink() noexcept {
    if (log_sink != nullptr && log_sink != stderr) std::fclose(log_sink);
    log_sink = nullptr;
}

void format_stamp() noexcept {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr ||
        std::strftime(log_stamp_buf, sizeof log_stamp_buf, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        log_stamp_buf[0] = '\0';
    }
}

// vsnprintf cuts the message to LOG_MESSAGE_LIMIT - 1 bytes; an encoding
// error leaves an empty message rather than undefined contents.
__attribute__((format(printf, 1, 0))) void format_message(const char* format,
                                                          std::va_list args) noexcept {
    if (std::vsnprintf(log_message_buf, sizeof log_message_buf, format, args) < 0) {
        log_message_buf[0] = '\0';
    }
}

}  // namespace

void log_open(const char* path, bool use_syslog) {
    std::setlocale(LC_ALL, "C");
    if (use_syslog) {
        log_use_syslog = true;
        openlog("corvane", LOG_PID, LOG_USER);
    }
    close_sink();
    if (path != nullptr) {
        log_sink = std::fopen(path, "a");
        if (log_sink != nullptr) return;
    }
    log_sink = stderr;
}

void log_close() {
    if (log_sink != stderr) close_sink();
    if (log_use_syslog) {
        log_use_syslog = false;
        closelog();
    }
}

void log_set_verbosity(int verbosity) { log_verbosity = verbosity; }

void log_write(log_level level, const char* format, ...) noexcept {
    const int index = level;
    if (!valid_level(index)) return;
    const auto slot = static_cast<std::size_t>(index);

    if (index < log_verbosity) {
        format_stamp();
        std::va_list args;
        va_start(args, format);
        format_message(format, args);
        va_end(args);
        if (log_sink != nullptr) {
            std::fprintf(log_sink, "%s %6s: %s\n", log_stamp_buf, level_names[slot],
                         log_message_buf);
            std::fflush(log_sink);
        } else {
            std::fprintf(stderr, "%s %6s: %s\n", log_stamp_buf, level_names[slot], log_message_buf);
        }
    }

    if (log_use_syslog && log_verbosity >= SYSLOG_MIN_VERBOSITY &&
        slot < syslog_priorities.size()) {
        std::va_list args;
        va_start(args, format);
        format_message(format, args);
        va_end(args);
        // The text goes as a value, so a percent sign in it is not read as
        // a conversion a second time.
        syslog(syslog_priorities[slot], "%s", log_message_buf);
    }
}

}  // namespace corvane
