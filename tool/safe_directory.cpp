#include "safe_directory.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corvane::userdb {

namespace {

// As many links as SQLite itself follows.
constexpr int LINK_LIMIT = 100;

// The directory part of `name`: "." when it has none, "/" for a name right
// under the root. False when it does not fit.
bool directory_of(const char* name, directory_name& directory) {
    const char* slash = std::strrchr(name, '/');
    const char* start = name;
    std::size_t length = 1;
    if (slash == nullptr) {
        start = ".";
    } else if (slash != name) {
        length = static_cast<std::size_t>(slash - name);
    }
    if (length >= sizeof directory.text) return false;
    std::memcpy(directory.text, start, length);
    directory.text[length] = '\0';
    return true;
}

// Sticky or not: in a sticky directory another user can still create the
// journal first, or a file under the name the owner will use.
bool writable_by_every_user(const directory_name& directory) {
    struct stat info {};
    return stat(directory.text, &info) == 0 && (info.st_mode & S_IWOTH) != 0;
}

}  // namespace

bool find_unsafe_directory(const char* path, directory_name& found) {
    directory_name holder{};
    // A name too long for a path is one SQLite cannot open either.
    if (!directory_of(path, holder)) return false;
    if (writable_by_every_user(holder)) {
        found = holder;
        return true;
    }
    directory_name name{};
    if (std::snprintf(name.text, sizeof name.text, "%s", path) >=
        static_cast<int>(sizeof name.text)) {
        return false;
    }
    for (int links = 0; links < LINK_LIMIT; ++links) {
        struct stat info {};
        if (lstat(name.text, &info) != 0 || !S_ISLNK(info.st_mode)) return false;
        char target[PATH_MAX];
        const ssize_t length = readlink(name.text, target, sizeof target - 1);
        // A link SQLite cannot follow either makes its open fail.
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target - 1) return false;
        target[length] = '\0';
        // A relative target is taken from the link's own directory.
        const int written =
            target[0] == '/'
                ? std::snprintf(name.text, sizeof name.text, "%s", target)
                : std::snprintf(name.text, sizeof name.text, "%s/%s", holder.text, target);
        if (written < 0 || written >= static_cast<int>(sizeof name.text)) return false;
        if (!directory_of(name.text, holder)) return false;
        if (writable_by_every_user(holder)) {
            if (realpath(holder.text, found.text) == nullptr) found = holder;
            return true;
        }
    }
    return false;
}

}  // namespace corvane::userdb
