// The password of add and pass read from standard input (-i), so that it
// never stands on a command line that every local user can see.
#pragma once

#include <string_view>

namespace corvane::userdb {

// From a terminal: "Password: " and "Retype password: " with echo off (on
// again on every way out, a signal included); the two must match. From
// anything else: the bytes up to the first line feed, or to the end of the
// input; the line feed is not part of the password and nothing else is
// stripped. Longer texts are cut after one byte more than a password may
// hold, which is enough for the length check to refuse them. The text lives
// to the end of the process. Ends the process with status 1 and a message
// when there is no input, the two entries differ, or reading fails.
[[nodiscard]] std::string_view read_password();

}  // namespace corvane::userdb
