// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <string>

namespace corvane::test {

class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    // The path of `name` inside the directory.
    [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whether a file exists at `path`.
[[nodiscard]] bool file_exists(const std::string& path);

// The permission bits of `path`.
[[nodiscard]] unsigned file_mode(const std::string& path);

// Writes `content` to `path`, replacing it.
void write_file(const std::string& path, const std::string& content);

// The bytes of `path`, or an empty text when it cannot be read.
[[nodiscard]] std::string read_file(const std::string& path);

}  // namespace corvane::test
