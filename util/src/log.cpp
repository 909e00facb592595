#include <corvane/log.hpp>

#include <array>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include <syslog.h>
#include <time.h>

namespace corvane {

namespace {

// Names written in log lines, indexed by level.
constexpr std::array<const char*, 11> level_names = {
    "FATAL", "ERROR", "WARN", "USER", "INFO", "DEBUG", "TRACE", "DUMP", "MEM", "PROTO", "PLUGIN"};
static_assert(level_names.size() == LVL_PLUGIN + 1);

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
// Where lines go. Before log_open, and after log_close of a file, they go
// to standard error unflushed, as any other write there; once log_open has
// chosen standard error or a file, each line is flushed at once.
enum class log_sink { unchosen, standard_error, file };
log_sink sink = log_sink::unchosen;
std::FILE* log_file = nullptr;  // while sink is log_sink::file
char log_message_buf[LOG_MESSAGE_LIMIT];
char log_stamp_buf[LOG_STAMP_LIMIT];

void close_log_file() noexcept {
    if (sink != log_sink::file) return;
    std::fclose(log_file);
    log_file = nullptr;
    sink = log_sink::unchosen;
}

// tzset first, so that a change of TZ made while the process runs shows in
// the next stamp, as it does with localtime (localtime_r need not look).
void format_stamp() noexcept {
    tzset();
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

// Writes the formatted message as one line.
void write_line(std::size_t slot) noexcept {
    format_stamp();
    std::FILE* const stream = sink == log_sink::file ? log_file : stderr;
    std::fprintf(stream, "%s %6s: %s\n", log_stamp_buf, level_names[slot], log_message_buf);
    if (sink != log_sink::unchosen) std::fflush(stream);
}

}  // namespace

void log_open(const char* path, bool use_syslog) {
    std::setlocale(LC_ALL, "C");
    if (use_syslog) {
        log_use_syslog = true;
        openlog("corvane", LOG_PID, LOG_USER);
    }
    close_log_file();
    log_file = path != nullptr ? std::fopen(path, "a") : nullptr;
    sink = log_file != nullptr ? log_sink::file : log_sink::standard_error;
}

void log_close() {
    close_log_file();
    if (log_use_syslog) {
        log_use_syslog = false;
        closelog();
    }
}

void log_set_verbosity(int verbosity) { log_verbosity = verbosity; }

void log_write(log_level level, const char* format, ...) noexcept {
    const int index = level;
    if (index < LVL_FATAL || index > LVL_PLUGIN) return;
    const auto slot = static_cast<std::size_t>(index);
    const bool as_line = index < log_verbosity;
    const bool forwarded =
        log_use_syslog && log_verbosity >= SYSLOG_MIN_VERBOSITY && slot < syslog_priorities.size();
    if (!as_line && !forwarded) return;

    std::va_list args;
    va_start(args, format);
    format_message(format, args);
    va_end(args);

    if (as_line) write_line(slot);
    // The text goes as a value, so a percent sign in it is not read as a
    // conversion a second time.
    if (forwarded) syslog(syslog_priorities[slot], "%s", log_message_buf);
}

}  // namespace corvane
