#include "safe_directory.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace corvane::userdb {

namespace {

// As many links as SQLite itself follows.
constexpr int LINK_LIMIT = 100;

std::string directory_of(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return name.substr(0, slash);
}

// Sticky or not: in a sticky directory another user can still create the
// journal first, or a file under the name the owner will use.
bool writable_by_every_user(const std::string& directory) {
    struct stat info {};
    return stat(directory.c_str(), &info) == 0 && (info.st_mode & S_IWOTH) != 0;
}

std::string resolved(const std::string& directory) {
    const std::unique_ptr<char, decltype(&std::free)> real(realpath(directory.c_str(), nullptr),
                                                           &std::free);
    return real != nullptr ? std::string(real.get()) : directory;
}

}  // namespace

bool find_unsafe_directory(const char* path, std::string& directory) {
    std::string name = path;
    std::string holder = directory_of(name);
    if (writable_by_every_user(holder)) {
        directory = holder;
        return true;
    }
    for (int links = 0; links < LINK_LIMIT; ++links) {
        struct stat info {};
        if (lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return false;
        char target[PATH_MAX];
        const ssize_t length = readlink(name.c_str(), target, sizeof target);
        // A link SQLite cannot follow either makes its open fail.
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return false;
        // A relative target is taken from the link's own directory.
        name = target[0] == '/' ? std::string() : holder + '/';
        name.append(target, static_cast<std::size_t>(length));
        holder = directory_of(name);
        if (writable_by_every_user(holder)) {
            directory = resolved(holder);
            return true;
        }
    }
    return false;
}

}  // namespace corvane::userdb
