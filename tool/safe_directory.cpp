#include "safe_directory.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corvane::userdb {

namespace {

// Links followed from the name to the file, as many as SQLite follows.
constexpr int LINK_LIMIT = 100;

// Splits `name` at its last slash: the directory part into `directory`
// ("." when there is none, "/" for a name right under the root) and a
// pointer to the file's own name. Null when the directory does not fit.
const char* split(const char* name, path_buffer& directory) {
    const char* slash = std::strrchr(name, '/');
    if (slash == nullptr) {
        std::memcpy(directory.text, ".", 2);
        return name;
    }
    const std::size_t length = slash == name ? 1 : static_cast<std::size_t>(slash - name);
    if (length >= sizeof directory.text) return nullptr;
    std::memcpy(directory.text, name, length);
    directory.text[length] = '\0';
    return slash + 1;
}

// `directory` resolved into `real`: absolute, every link followed, and a
// directory indeed.
bool resolve_directory(const char* directory, path_buffer& real) {
    struct stat info {};
    return realpath(directory, real.text) != nullptr && stat(real.text, &info) == 0 &&
           S_ISDIR(info.st_mode);
}

bool writable_by_every_user(const char* directory, bool unless_sticky) {
    struct stat info {};
    if (stat(directory, &info) != 0 || (info.st_mode & S_IWOTH) == 0) return false;
    return !unless_sticky || (info.st_mode & S_ISVTX) == 0;
}

// The first directory above the absolute directory `real` that every user
// may write without the sticky bit, into `found`.
bool find_unsafe_parent(const path_buffer& real, path_buffer& found) {
    found = real;
    for (char* slash = std::strrchr(found.text, '/'); slash != nullptr;
         slash = std::strrchr(found.text, '/')) {
        if (slash == found.text) {
            if (found.text[1] == '\0') return false;  // the root has no parent
            found.text[1] = '\0';
        } else {
            *slash = '\0';
        }
        if (writable_by_every_user(found.text, true)) return true;
    }
    return false;
}

bool join(const path_buffer& directory, const char* name, path_buffer& path) {
    const char* separator = std::strcmp(directory.text, "/") == 0 ? "" : "/";
    const int written =
        std::snprintf(path.text, sizeof path.text, "%s%s%s", directory.text, separator, name);
    return written >= 0 && static_cast<std::size_t>(written) < sizeof path.text;
}

}  // namespace

placement locate_database(const char* path, path_buffer& file, path_buffer& unsafe) {
    path_buffer written{};
    const char* name = split(path, written);
    path_buffer real{};
    if (name == nullptr || !resolve_directory(written.text, real)) return placement::unresolved;
    if (writable_by_every_user(real.text, false)) {
        unsafe = written;
        return placement::unsafe;
    }
    if (*name == '\0') return placement::unresolved;

    // Follows the name, link by link, to the file SQLite is to open; its
    // journal lies beside that file.
    path_buffer target{};
    for (int links = 0;; ++links) {
        if (!join(real, name, file)) return placement::unresolved;
        struct stat info {};
        if (lstat(file.text, &info) != 0) {
            if (errno == ENOENT) break;  // the open creates it
            return placement::unresolved;
        }
        if (!S_ISLNK(info.st_mode)) break;
        if (links == LINK_LIMIT) return placement::unresolved;
        const ssize_t length = readlink(file.text, target.text, sizeof target.text - 1);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target.text - 1) {
            return placement::unresolved;
        }
        target.text[length] = '\0';
        // A relative target is taken from the link's own directory.
        path_buffer from_link{};
        name = split(target.text, written);
        if (name == nullptr || *name == '\0') return placement::unresolved;
        if (target.text[0] != '/' && !join(real, written.text, from_link)) {
            return placement::unresolved;
        }
        if (!resolve_directory(target.text[0] == '/' ? written.text : from_link.text, real)) {
            return placement::unresolved;
        }
        if (writable_by_every_user(real.text, false)) {
            unsafe = real;
            return placement::unsafe;
        }
        // `name` points into `target`, which the next readlink overwrites.
        std::memmove(target.text, name, std::strlen(name) + 1);
        name = target.text;
    }
    if (find_unsafe_parent(real, unsafe)) return placement::unsafe;
    return placement::safe;
}

}  // namespace corvane::userdb
