// Where the database file really is, and whether other users could tamper
// with it there.
#pragma once

#include <climits>

namespace corvane::userdb {

// A path; nothing longer can be opened.
struct path_buffer {
    char text[PATH_MAX];
};

enum class placement {
    safe,        // `file` holds the name to open
    unsafe,      // `unsafe` holds the directory that makes it so
    unresolved,  // a directory on the way could not be resolved, or the
                 // file exists and is not a regular file
};

// Resolves the database name `path` to the file SQLite is to open: the
// directory part made a real absolute directory (every link followed) plus
// the file's own name, and a link as that name followed to its target. The
// file opened is then the one whose directory was judged, whatever the
// name's own spelling ("missing/../..", long link chains) would make of it.
//
// Unsafe: a directory every user may write (sticky or not, since anyone
// could create the journal first) holds the name or a link's target; or a
// directory above the one that holds the file may be written by every user
// without the sticky bit, so that anyone could rename the file's directory
// away and put their own in its place; or a link followed on the way lies
// in such a directory, so that anyone could point it elsewhere. `unsafe`
// names the directory as written for the name's own, resolved for any other.
//
// Not covered: directories owned by another user, write granted to a named
// user or group by an ACL, and changes the directories' owners make after
// the check.
[[nodiscard]] placement locate_database(const char* path, path_buffer& file, path_buffer& unsafe);

}  // namespace corvane::userdb
