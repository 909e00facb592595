// The text operations on arbitrary bytes, each against a plain std::string
// model written here: results never grow, never point outside the text, and
// the splitters offer exactly the model's pieces.
#include <corvane/log.hpp>
#include <corvane/plist.hpp>
#include <corvane/text.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

bool blank(char c) { return c == '\t' || c == '\r' || c == ' '; }

std::string model_trim(const std::string& s) {
    std::size_t begin = 0;
    while (begin < s.size() && blank(s[begin])) ++begin;
    std::size_t end = s.size();
    while (end > begin && blank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

std::string model_unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '#') break;
        if (s[i] == '\\') {
            if (i + 1 < s.size()) out += s[++i];
            continue;
        }
        out += s[i];
    }
    return out;
}

using pieces = std::vector<std::pair<std::string, int>>;

// Pieces end at each occurrence of the separator; the next piece starts one
// byte after the occurrence begins.
std::pair<pieces, int> model_tokens(const std::string& text, const std::string& separator) {
    pieces offered;
    int number = 0;
    std::size_t start = 0;
    for (std::size_t found; (found = text.find(separator, start)) != std::string::npos;
         start = found + 1) {
        const std::string piece = model_trim(text.substr(start, found - start));
        if (!piece.empty()) offered.emplace_back(piece, number);
        ++number;
    }
    const std::string last = model_trim(text.substr(start));
    if (!last.empty()) offered.emplace_back(last, number);
    return {offered, number + 1};
}

std::vector<std::string> model_list(const std::string& text, const std::string& separator,
                                    bool keep_empty) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t found = text.find(separator, start);
        const std::string piece =
            text.substr(start, found == std::string::npos ? std::string::npos : found - start);
        if (!piece.empty() || keep_empty) items.push_back(piece);
        if (found == std::string::npos) return items;
        start = found + separator.size();
    }
}

int collect(char* piece, int number, void* context) {
    static_cast<pieces*>(context)->emplace_back(piece, number);
    return 0;
}

// An exact-size writable copy: AddressSanitizer catches a step past its end.
std::unique_ptr<char[]> writable(const std::string& s) {
    auto copy = std::make_unique<char[]>(s.size() + 1);
    std::memcpy(copy.get(), s.c_str(), s.size() + 1);
    return copy;
}

void check_in_place(const std::string& text) {
    auto trimmed = writable(text);
    const char* result = corvane::trim_blanks(trimmed.get());
    if (result < trimmed.get() || result > trimmed.get() + text.size()) std::abort();
    if (result != model_trim(text)) std::abort();

    auto quoted = writable(text);
    const char* unquoted = corvane::unquote(quoted.get());
    const bool pair =
        text.size() >= 2 && (text[0] == '\'' || text[0] == '"') && text.back() == text[0];
    if (unquoted != (pair ? text.substr(1, text.size() - 2) : text)) std::abort();

    auto line = writable(text);
    corvane::unescape_config_line(line.get(), 1);
    if (line.get() != model_unescape(text)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    corvane::log_set_verbosity(0);  // the unescaper's warnings are not the point here
    if (size == 0) return 0;
    // The first byte picks a separator of 1 to 3 bytes from the start of the rest.
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    rest = rest.substr(0, rest.find('\0'));
    const std::size_t separator_length = std::min<std::size_t>(1 + data[0] % 3, rest.size());
    const std::string separator = rest.substr(0, separator_length);
    const std::string text = rest.substr(separator_length);

    check_in_place(text);
    if (separator.empty()) return 0;

    pieces offered;
    const int count = corvane::for_each_token(text.c_str(), separator.c_str(), &offered, collect);
    const auto [expected, expected_count] = model_tokens(text, separator);
    if (count != expected_count || offered != expected) std::abort();

    if (!text.empty()) {
        for (const bool keep_empty : {false, true}) {
            corvane::plist* list = corvane::plist_create();
            const int appended =
                corvane::tokens_to_list(text.c_str(), separator.c_str(), list, keep_empty);
            const std::vector<std::string> items = model_list(text, separator, keep_empty);
            if (appended != static_cast<int>(items.size())) std::abort();
            if (corvane::plist_size(list) != items.size()) std::abort();
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (static_cast<const char*>(corvane::plist_get(list, i)) != items[i]) std::abort();
            }
            corvane::plist_clear(list, std::free);
            corvane::plist_destroy(list);
        }
    }
    return 0;
}
