#include <corvane/text.hpp>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <corvane/chars.hpp>
#include <corvane/log.hpp>

namespace corvane {

namespace {

// trim_blanks of null points here; callers must not write through it.
constexpr char empty_text[] = "";

// Piece numbers are ints; a text this long could overflow them.
bool too_long_to_number(const char* text) noexcept { return std::strlen(text) >= INT_MAX; }

// Trims piece and offers it to callback unless it is empty. False when the
// callback asks to stop.
bool offer_piece(char* piece, int number, void* context, text_callback callback) {
    char* const trimmed = trim_blanks(piece);
    if (*trimmed == '\0') return true;
    return callback(trimmed, number, context) >= 0;
}

// Offers each piece of copy, split at every occurrence of separator, with
// numbers counted from first_number. The next piece starts one byte past
// the start of an occurrence, so the rest of a longer separator belongs to
// it. Frees copy. The number of pieces, or -1 when the copy could not be
// made (null) or the callback stopped the walk.
int walk_pieces(char* copy, const char* separator, int first_number, void* context,
                text_callback callback) {
    if (copy == nullptr) {
        log_write(LVL_FATAL, "Unable to allocate memory");
        return -1;
    }
    int number = first_number;
    char* piece = copy;
    for (char* found = std::strstr(piece, separator); found != nullptr;
         found = std::strstr(piece, separator)) {
        *found = '\0';
        if (!offer_piece(piece, number, context, callback)) {
            std::free(copy);
            return -1;
        }
        ++number;
        piece = found + 1;
    }
    const bool go_on = offer_piece(piece, number, context, callback);
    std::free(copy);
    return go_on ? number - first_number + 1 : -1;
}

// Reads until READ_LIMIT bytes are in buffer or the file ends, continuing
// after short reads and interrupted calls. The count read, or -1 with errno
// set.
ssize_t read_up_to_limit(int fd, char* buffer) noexcept {
    std::size_t total = 0;
    while (total < READ_LIMIT) {
        const ssize_t got = read(fd, buffer + total, READ_LIMIT - total);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        total += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

}  // namespace

char* trim_blanks(char* text) {
    if (text == nullptr) return const_cast<char*>(empty_text);
    while (char_is_blank(*text)) ++text;
    if (*text == '\0') return text;
    // text holds a non-blank byte, so the backward scan stops inside it.
    char* end = text + std::strlen(text) - 1;
    while (char_is_blank(*end)) *end-- = '\0';
    return text;
}

char* unquote(char* text) {
    if (text == nullptr) return nullptr;
    const std::size_t length = std::strlen(text);
    if (length < 2) return text;
    const char open = text[0];
    if ((open == '\'' || open == '"') && text[length - 1] == open) {
        text[length - 1] = '\0';
        return text + 1;
    }
    return text;
}

void unescape_config_line(char* line, int line_number) {
    if (line == nullptr || *line == '\0') return;
    char* out = line;
    bool escaped = false;
    for (const char* in = line; *in != '\0'; ++in) {
        const char c = *in;
        if (escaped) {
            if (c != '"' && c != '#' && c != '\\') {
                log_write(LVL_WARN, "Invalid backslash escape on line %d", line_number);
            }
            *out++ = c;
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == '#') {
            break;
        } else {
            *out++ = c;
        }
    }
    *out = '\0';
}

int for_each_token(const char* text, const char* separator, void* context, text_callback callback) {
    if (text == nullptr || separator == nullptr || *separator == '\0') return -1;
    if (too_long_to_number(text)) return -1;
    return walk_pieces(strdup(text), separator, 0, context, callback);
}

int tokens_to_list(const char* text, const char* separator, plist* list, bool keep_empty) {
    if (text == nullptr || *text == '\0' || separator == nullptr || *separator == '\0' ||
        list == nullptr) {
        return -1;
    }
    if (too_long_to_number(text)) return -1;
    const std::size_t separator_length = std::strlen(separator);

    int count = 0;
    const char* piece = text;
    while (true) {
        const char* const found = std::strstr(piece, separator);
        const std::size_t length =
            found != nullptr ? static_cast<std::size_t>(found - piece) : std::strlen(piece);
        if (length > 0 || keep_empty) {
            char* const copy = strndup(piece, length);
            if (copy == nullptr) {
                plist_clear(list, [](void* item) { std::free(item); });
                return -1;
            }
            // plist_append logs a failed node itself; the piece is then
            // ours to release and is not counted.
            const std::size_t before = plist_size(list);
            plist_append(list, copy);
            if (plist_size(list) == before) {
                std::free(copy);
            } else {
                ++count;
            }
        }
        if (found == nullptr) return count;
        piece = found + separator_length;
    }
}

int for_each_file_line(const char* path, void* context, text_callback callback) {
    if (path == nullptr) return -2;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        log_write(LVL_ERROR, "Unable to open file %s: %s", path, std::strerror(errno));
        return -2;
    }
    char buffer[READ_LIMIT + 2];
    const ssize_t got = read_up_to_limit(fd, buffer);
    const int read_error = errno;
    close(fd);
    if (got < 0) {
        log_write(LVL_ERROR, "Unable to read from file %s: %s", path, std::strerror(read_error));
        return -1;
    }
    if (got == 0) {
        log_write(LVL_WARN, "File is empty.");
        return 0;
    }

    // The text ends at its first NUL byte, if the file holds one.
    // Lines are numbered from 1, so the count of lines is the last number.
    return walk_pieces(strndup(buffer, static_cast<std::size_t>(got)), "\n", 1, context, callback);
}

}  // namespace corvane
