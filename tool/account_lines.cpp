#include "account_lines.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corvane::userdb {

namespace {

void start(account_line& line) {
    line.tabs = 0;
    for (account_line::field& field : line.fields) field.length = 0;
}

void keep(account_line::field& field, const char* bytes, std::size_t count) {
    const std::size_t room = account_line::KEEP - field.length;
    const std::size_t taken = std::min(count, room);
    std::memcpy(field.bytes + field.length, bytes, taken);
    field.length += taken;
}

}  // namespace

bool account_reader::fill() {
    for (;;) {
        const ssize_t got = read(descriptor_, buffer_, sizeof buffer_);
        if (got > 0) {
            at_ = buffer_;
            end_ = buffer_ + got;
            return true;
        }
        if (got == 0) return false;
        if (errno != EINTR) {
            read_error_ = errno;
            return false;
        }
    }
}

bool account_reader::next(account_line& line) {
    start(line);
    bool empty = true;
    for (;;) {
        if (at_ == end_ && !fill()) {
            // A last line without its line feed still counts.
            if (empty || read_error_ != 0) return false;
            line.number = ++lines_;
            return true;
        }
        const char* piece = at_;
        while (at_ < end_ && *at_ != '\t' && *at_ != '\n') ++at_;
        if (at_ > piece) {
            empty = false;
            if (line.tabs < 3) {
                keep(line.fields[line.tabs], piece, static_cast<std::size_t>(at_ - piece));
            }
        }
        if (at_ == end_) continue;
        if (*at_++ == '\t') {
            empty = false;
            if (line.tabs < 3) ++line.tabs;
            continue;
        }
        ++lines_;
        if (!empty) {
            line.number = lines_;
            return true;
        }
    }
}

}  // namespace corvane::userdb
