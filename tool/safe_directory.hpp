// Whether the database file lies where other users could tamper with it.
#pragma once

#include <climits>
#include <cstddef>

namespace corvane::userdb {

// A directory's name; SQLite opens no longer path.
struct directory_name {
    char text[PATH_MAX];
};

// Looks for a directory that every user may write among those SQLite will
// use for the database file `path`: the directory that holds the name and,
// when the name is a symbolic link, the directory of each name the link
// leads to (SQLite keeps its journal beside the file the link ends at).
// Returns true with that directory in `found`: as written for the name
// itself, resolved for a link's target.
[[nodiscard]] bool find_unsafe_directory(const char* path, directory_name& found);

}  // namespace corvane::userdb
