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

bool writable_by_every_user(const char* directory, bool unless_sticky) {
    struct stat info {};
    if (stat(directory, &info) != 0 || (info.st_mode & S_IWOTH) == 0) return false;
    return !unless_sticky || (info.st_mode & S_ISVTX) == 0;
}

// `directory` resolved into `real` as realpath(3) would: absolute, every
// link followed, every component a directory. A link that lies in a
// directory every user may write without the sticky bit is anyone's to
// replace, whatever it points to now: that directory goes into `unsafe`.
placement resolve_directory(const char* directory, path_buffer& real, path_buffer& unsafe) {
    path_buffer pending{};  // the components still to walk
    const std::size_t length = std::strlen(directory);
    if (length >= sizeof pending.text) return placement::unresolved;
    std::memcpy(pending.text, directory, length + 1);
    if (directory[0] == '/') {
        std::memcpy(real.text, "/", 2);
    } else if (getcwd(real.text, sizeof real.text) == nullptr) {
        return placement::unresolved;
    }
    std::size_t end = std::strlen(real.text);  // no slash at the end but the root's
    path_buffer target{};
    int links = 0;
    for (const char* rest = pending.text;;) {
        rest += std::strspn(rest, "/");
        const std::size_t size = std::strcspn(rest, "/");
        if (size == 0) return placement::safe;
        const char* component = rest;
        rest += size;
        if (size == 1 && component[0] == '.') continue;
        if (size == 2 && component[0] == '.' && component[1] == '.') {
            while (end > 1 && real.text[end - 1] != '/') --end;
            if (end > 1) --end;  // the root is its own parent
            real.text[end] = '\0';
            continue;
        }
        const std::size_t holder = end;
        if (end > 1) real.text[end++] = '/';
        if (end + size >= sizeof real.text) return placement::unresolved;
        std::memcpy(real.text + end, component, size);
        end += size;
        real.text[end] = '\0';
        struct stat info {};
        if (lstat(real.text, &info) != 0) return placement::unresolved;
        if (S_ISDIR(info.st_mode)) continue;
        if (!S_ISLNK(info.st_mode) || ++links > LINK_LIMIT) return placement::unresolved;
        const ssize_t got = readlink(real.text, target.text, sizeof target.text);
        const std::size_t rest_size = std::strlen(rest);
        if (got <= 0 || static_cast<std::size_t>(got) + rest_size >= sizeof target.text) {
            return placement::unresolved;
        }
        end = holder;
        real.text[end] = '\0';
        if (writable_by_every_user(real.text, true)) {
            unsafe = real;
            return placement::unsafe;
        }
        // The target takes the link's place in what is still to walk.
        std::memcpy(target.text + got, rest, rest_size + 1);
        std::memcpy(pending.text, target.text, static_cast<std::size_t>(got) + rest_size + 1);
        rest = pending.text;
        if (rest[0] == '/') {
            std::memcpy(real.text, "/", 2);
            end = 1;
        }
    }
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
    if (name == nullptr) return placement::unresolved;
    path_buffer real{};
    const placement way = resolve_directory(written.text, real, unsafe);
    if (way != placement::safe) return way;
    if (writable_by_every_user(real.text, false)) {
        unsafe = written;
        return placement::unsafe;
    }
    if (*name == '\0') return placement::unresolved;

    // Follows the name, link by link, to the file SQLite is to open; its
    // journal lies beside that file.
    path_buffer target{};
    bool regular_or_none = true;
    for (int links = 0;; ++links) {
        if (!join(real, name, file)) return placement::unresolved;
        struct stat info {};
        if (lstat(file.text, &info) != 0) {
            if (errno == ENOENT) break;  // the open creates it
            return placement::unresolved;
        }
        if (!S_ISLNK(info.st_mode)) {
            regular_or_none = S_ISREG(info.st_mode);
            break;
        }
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
        const placement target_way =
            resolve_directory(target.text[0] == '/' ? written.text : from_link.text, real, unsafe);
        if (target_way != placement::safe) return target_way;
        if (writable_by_every_user(real.text, false)) {
            unsafe = real;
            return placement::unsafe;
        }
        // `name` points into `target`, which the next readlink overwrites.
        std::memmove(target.text, name, std::strlen(name) + 1);
        name = target.text;
    }
    if (find_unsafe_parent(real, unsafe)) return placement::unsafe;
    // A device, a FIFO or a directory is no database: SQLite would write its
    // header over a device, wait on a FIFO, or create a journal beside either.
    return regular_or_none ? placement::safe : placement::unresolved;
}

}  // namespace corvane::userdb
