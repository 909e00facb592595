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
    std::size_t field_bytes = 0;   // of the field being read, kept or not
    bool carriage_return = false;  // the last byte read was one
    for (;;) {
        const bool empty = line.tabs == 0 && line.fields[0].length == 0;
        if (at_ == end_ && !fill()) {
            // A last line without its line feed still counts.
            if (empty || read_error_ != 0) return false;
            line.number = ++lines_;
            return true;
        }
        const char* piece = at_;
        while (at_ < end_ && *at_ != '\t' && *at_ != '\n') ++at_;
        if (at_ > piece) {
            const auto count = static_cast<std::size_t>(at_ - piece);
            if (line.tabs < 3) keep(line.fields[line.tabs], piece, count);
            field_bytes += count;
            carriage_return = at_[-1] == '\r';
        }
        if (at_ == end_) continue;
        if (*at_++ == '\t') {
            if (line.tabs < 3) ++line.tabs;
            field_bytes = 0;
            carriage_return = false;
            continue;
        }
        // A carriage return right before the line feed ends the line with
        // it (a file written on Windows); one kept is taken off again. A
        // field cut short kept no carriage return, and is too long anyway.
        if (carriage_return && field_bytes <= account_line::KEEP && line.tabs < 3) {
            --line.fields[line.tabs].length;
        }
        ++lines_;
        if (line.tabs != 0 || line.fields[0].length != 0) {
            line.number = lines_;
            return true;
        }
        field_bytes = 0;
        carriage_return = false;
    }
}

}  // namespace corvane::userdb
