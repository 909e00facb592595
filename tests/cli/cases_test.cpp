// The command-line cases of cli/cases/*.cases, each a test of its own (suite
// FILE_cases, test named after its title), run with the real binary in a
// fresh directory. docs/development.md describes the format.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using placeholders = std::map<std::string, std::string>;

// "| TEXT", or "* FIRST..LAST TEXT": one line for each number, put for \#.
struct block_line {
    std::string raw;
    long first = -1, last = -1;
};
using block = std::vector<block_line>;

struct step {
    int line = 0;
    std::string keyword, raw;                       // raw: the rest of the line
    block lines;                                    // of write:, set, rows: and query
    std::vector<std::pair<int, std::string>> runs;  // a run and its also lines
    std::optional<block> input;
    block out, err;
    int status = 0;
};

struct case_def {
    std::string path, title;
    int line = 0;
    std::vector<step> steps;
    std::string broken;  // why the file could not be read
};

// The escapes of single bytes: \t for a tab, ...
constexpr char letters[] = "trnv0";
constexpr char letter_bytes[] = "\t\r\n\v";  // and the terminating NUL for \0

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }
bool is(char c, int (*test)(int)) { return test(static_cast<unsigned char>(c)) != 0; }

// Decodes raw[at...] up to its end or, inside \{COUNT:...}, its closing
// brace. \# is `number`; a \c that ends the text sets *open_end.
std::string decode(const std::string& raw, std::size_t& at, const placeholders& names, long number,
                   bool nested, bool* open_end) {
    std::string out;
    while (at < raw.size()) {
        const char c = raw[at++];
        if (nested && c == '}') return out;
        if (c == '$' && at < raw.size() && is(raw[at], isupper)) {
            const std::size_t end =
                raw.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_", at);
            const auto found = names.find(raw.substr(at, end - at));
            if (found == names.end()) fail("no placeholder $" + raw.substr(at, end - at));
            out += found->second;
            at = std::min(end, raw.size());
        } else if (c != '\\') {
            out += c;
        } else if (at == raw.size()) {
            fail("a lone \\ ends the text");
        } else if (const char e = raw[at++]; e == 'x') {
            if (at + 2 > raw.size() || !is(raw[at], isxdigit) || !is(raw[at + 1], isxdigit)) {
                fail("\\x takes two hexadecimal digits");
            }
            out += static_cast<char>(std::stoi(raw.substr(at, 2), nullptr, 16));
            at += 2;
        } else if (e == '{') {
            std::size_t digits = 0;
            if (at == raw.size() || !is(raw[at], isdigit)) fail("\\{ takes COUNT:TEXT}");
            const unsigned long count = std::stoul(raw.substr(at), &digits);
            if (raw.compare(at + digits, 1, ":") != 0) fail("\\{ takes COUNT:TEXT}");
            at += digits + 1;
            const std::string piece = decode(raw, at, names, number, true, nullptr);
            for (unsigned long i = 0; i < count; ++i) out += piece;
        } else if (e == 'c' && open_end != nullptr && at == raw.size()) {
            *open_end = true;
        } else if (e == '#' && number >= 0) {
            out += std::to_string(number);
        } else if (const char* named = std::strchr(letters, e); named != nullptr && e != '\0') {
            out += letter_bytes[named - letters];
        } else if (is(e, isalnum) || e == '#') {
            fail(std::string("\\") + e + " is no escape here");
        } else {
            out += e;
        }
    }
    if (nested) fail("\\{ without its }");
    return out;
}

std::string decode(const std::string& raw, const placeholders& names, long number = -1,
                   bool* open_end = nullptr) {
    std::size_t at = 0;
    return decode(raw, at, names, number, false, open_end);
}

// Splits at blanks outside double quotes; the words keep their escapes.
std::vector<std::string> split_words(const std::string& raw) {
    std::vector<std::string> words;
    bool quoted = false, in_word = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == ' ' && !quoted) {
            in_word = false;
            continue;
        }
        if (!in_word) words.emplace_back();
        in_word = true;
        if (raw[i] == '"') {
            quoted = !quoted;
        } else {
            words.back() += raw.substr(i, raw[i] == '\\' ? 2 : 1);
            if (raw[i] == '\\') ++i;
        }
    }
    if (quoted) fail("a \" is not closed");
    return words;
}

// Calls each(line, number) for every line a block stands for.
template <typename Each>
void for_each_line(const block& lines, Each each) {
    for (const block_line& line : lines) {
        for (long number = line.first; number <= line.last; ++number) each(line, number);
    }
}

// Each line and a line feed, but after a last line that ends in \c.
std::string bytes_of(const block& lines, const placeholders& names) {
    std::string bytes;
    for_each_line(lines, [&](const block_line& line, long number) {
        bool open_end = false;
        const bool last = &line == &lines.back() && number < 0;
        bytes += decode(line.raw, names, number, last ? &open_end : nullptr);
        if (!open_end) bytes += '\n';
    });
    return bytes;
}

std::vector<row> rows_of(const block& lines, const placeholders& names) {
    std::vector<row> rows;
    for_each_line(lines, [&](const block_line& line, long number) {
        row& values = rows.emplace_back();
        for (const std::string& word : split_words(line.raw)) {
            if (word == "\\N") values.emplace_back();
            if (word != "\\N") values.emplace_back(decode(word, names, number));
        }
    });
    return rows;
}

// Reads "| TEXT" or "* FIRST..LAST TEXT" into `line`; false for other lines.
bool block_line_of(const std::string& text, block_line& line) {
    if (text == "|" || text.rfind("| ", 0) == 0) {
        line = {text.substr(std::min<std::size_t>(2, text.size()))};
        return true;
    }
    if (text.rfind("* ", 0) != 0) return false;
    std::istringstream range(text.substr(2));
    char dot = 0, dot2 = 0;
    if (!(range >> line.first >> dot >> dot2 >> line.last) || dot != '.' || dot2 != '.' ||
        range.get() != ' ' || line.first < 0 || line.last < line.first) {
        fail("expected * FIRST..LAST TEXT");
    }
    std::getline(range, line.raw);
    return true;
}

std::vector<case_def> parse_cases(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::vector<case_def> cases;
    std::vector<step> prelude;  // the steps before the first case, part of every case
    std::vector<step>* steps = &prelude;
    std::size_t next = 0;
    auto read_block = [&] {
        block read;
        for (block_line line; next < lines.size() && block_line_of(lines[next], line); ++next) {
            read.push_back(line);
        }
        return read;
    };
    // The text after "KEY:": the rest of the line (a * line too), or the block below.
    auto text_after = [&](const std::string& rest) {
        block_line line{rest};
        if (rest.empty()) return read_block();
        if (rest.rfind("* ", 0) == 0) block_line_of(rest, line);
        return block{line};
    };
    while (next < lines.size()) {
        const int number = static_cast<int>(++next);
        const std::string& line = lines[next - 1];
        const std::size_t blank = line.find(' ');
        const std::string keyword = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        try {
            if (!line.empty() && std::strchr(" \t\r", line.back()) != nullptr) {
                fail("the line ends in a blank: write it \\x20, \\t or \\r");
            }
            if (line.empty() || line[0] == '#') continue;
            if (keyword == "==") {
                cases.push_back({path, rest, number, prelude, ""});
                steps = &cases.back().steps;
                continue;
            }
            step* run =
                !steps->empty() && steps->back().keyword == "run" ? &steps->back() : nullptr;
            if (keyword == "also" || keyword == "stdin:" || keyword == "stdout:" ||
                keyword == "stderr:" || keyword == "fails:" || keyword == "status") {
                if (run == nullptr) fail(keyword + " belongs to a run above it");
                if (keyword == "also") {
                    if (run->input || run->status != 0 || !run->out.empty() || !run->err.empty()) {
                        fail("also comes right after its run or another also");
                    }
                    run->runs.emplace_back(number, rest);
                }
                if (keyword == "stdin:") run->input = text_after(rest);
                if (keyword == "stdout:") run->out = text_after(rest);
                if (keyword == "stderr:" || keyword == "fails:") run->err = text_after(rest);
                if (keyword == "fails:") run->status = 1;
                if (keyword == "status") run->status = std::stoi(rest);
                continue;
            }
            step& added = steps->emplace_back();
            added.line = number;
            added.keyword = keyword;
            added.raw = rest;
            if (keyword == "run") {
                added.runs.emplace_back(number, rest);
            } else if (keyword == "write:") {
                added.lines = text_after(rest);
            } else if (keyword == "set") {
                const std::size_t colon = rest.find(':');
                added.raw = rest.substr(0, colon);
                if (colon == std::string::npos || added.raw.empty() || !is(added.raw[0], isupper) ||
                    added.raw.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") !=
                        std::string::npos) {
                    fail("expected set NAME: TEXT, NAME in capitals");
                }
                added.lines = text_after(rest.substr(std::min(colon + 2, rest.size())));
            } else if (keyword == "rows:" || keyword == "query") {
                added.lines = read_block();
            } else if (keyword != "sql" && keyword != "files:" &&
                       !(keyword == "no" && (rest == "file" || rest.rfind("file ", 0) == 0))) {
                fail("unknown line: " + line);
            }
        } catch (const std::exception& e) {
            throw std::runtime_error(std::to_string(number) + ":" + e.what());
        }
    }
    return cases;
}

// ------------------------------------------------------------ reports

constexpr char shown_bytes[] = "\t\r\n\\";
constexpr char shown_letters[] = "trn\\";

// Bytes as a case file writes them; a word is quoted where it must be.
std::string escaped(const std::string& bytes, bool word) {
    std::string shown;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (const char* named = std::strchr(shown_bytes, c); named != nullptr && c != '\0') {
            shown += std::string("\\") + shown_letters[named - shown_bytes];
        } else if (byte < 0x20 || byte >= 0x7F) {
            shown += "\\x" + std::string(1, "0123456789ABCDEF"[byte >> 4]) +
                     "0123456789ABCDEF"[byte & 15];
        } else {
            shown += word && c == '"' ? "\\\"" : std::string(1, c);
        }
    }
    const bool quote = word && (bytes.empty() || bytes.find(' ') != std::string::npos);
    return quote ? '"' + shown + '"' : shown;
}

std::vector<std::string> shown_lines(const std::string& bytes) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end = 0; start < bytes.size(); start = end + 1) {
        end = std::min(bytes.find('\n', start), bytes.size());
        const std::string line = escaped(bytes.substr(start, end - start), false);
        lines.push_back((line.empty() ? "|" : "| " + line) + (end == bytes.size() ? "\\c" : ""));
    }
    return lines;
}

std::vector<std::string> shown_lines(const std::vector<row>& rows) {
    std::vector<std::string> lines;
    for (const row& values : rows) {
        std::string& line = lines.emplace_back("|");
        for (const auto& value : values) line += " " + (value ? escaped(*value, true) : "\\N");
    }
    return lines;
}

// The first lines that differ, after the two before them.
std::string difference(const std::vector<std::string>& wanted,
                       const std::vector<std::string>& got) {
    std::size_t at = 0;
    while (at < wanted.size() && at < got.size() && wanted[at] == got[at]) ++at;
    std::string shown = "differ from line " + std::to_string(at + 1) + " (expected " +
                        std::to_string(wanted.size()) + " lines, got " +
                        std::to_string(got.size()) + "):\n";
    for (std::size_t i = at >= 2 ? at - 2 : 0; i < at; ++i) shown += "    " + wanted[i] + "\n";
    for (std::size_t i = at; i < std::min(wanted.size(), at + 3); ++i) {
        shown += "  - " + wanted[i] + "\n";
    }
    for (std::size_t i = at; i < std::min(got.size(), at + 3); ++i) shown += "  + " + got[i] + "\n";
    return shown;
}

// ------------------------------------------------------------ the run

// Runs a step; reports what differs at its line.
void run_step(const case_def& c, const step& s, placeholders& names) {
    const std::string& dir = names.at("DIR");
    if (s.keyword == "run") {
        for (const auto& [line, raw] : s.runs) {
            std::vector<std::string> args;
            for (const std::string& word : split_words(raw)) args.push_back(decode(word, names));
            run_options options;
            options.cwd = dir;
            if (s.input) options.stdin_text = bytes_of(*s.input, names);
            const run_result got = userdb(args, options);
            std::string report;
            if (got.status != s.status) {
                report += "status " + std::to_string(got.status) + ", expected " +
                          std::to_string(s.status) + "\n";
            }
            if (got.out != bytes_of(s.out, names)) {
                report += "stdout " +
                          difference(shown_lines(bytes_of(s.out, names)), shown_lines(got.out));
            }
            if (got.err != bytes_of(s.err, names)) {
                report += "stderr " +
                          difference(shown_lines(bytes_of(s.err, names)), shown_lines(got.err));
            }
            if (!report.empty()) {
                ADD_FAILURE_AT(c.path.c_str(), line) << "run " << raw << "\n" << report;
            }
        }
    } else if (s.keyword == "set") {
        std::string value = bytes_of(s.lines, names);
        if (!value.empty() && value.back() == '\n') value.pop_back();
        names[s.raw] = value;
    } else if (s.keyword == "sql") {
        sqlite_db(names.at("FILE")).exec(decode(s.raw, names));
    } else if (s.keyword == "write:") {
        write_file(names.at("FILE"), bytes_of(s.lines, names));
    } else if (s.keyword == "files:") {
        std::vector<std::string> wanted, got;
        for (const std::string& word : split_words(s.raw)) wanted.push_back(decode(word, names));
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            got.push_back(entry.path().filename().string());
        }
        std::sort(wanted.begin(), wanted.end());
        std::sort(got.begin(), got.end());
        if (got != wanted)
            ADD_FAILURE_AT(c.path.c_str(), s.line) << "files: " << testing::PrintToString(got);
    } else {
        // no file [NAME], rows: [NAME] and query SQL: NAME is in the case's directory.
        const std::string named = s.keyword == "no"      ? s.raw.substr(4)
                                  : s.keyword == "rows:" ? s.raw
                                                         : "";
        const std::vector<std::string> words = split_words(named);
        const std::string path =
            words.empty() ? names.at("FILE") : dir + "/" + decode(words[0], names);
        if (s.keyword == "no") {
            if (file_exists(path)) ADD_FAILURE_AT(c.path.c_str(), s.line) << path << " exists";
            return;
        }
        if (!file_exists(path)) fail(path + " is missing");
        const std::vector<row> got = sqlite_db(path).query(
            s.keyword == "query"
                ? decode(s.raw, names)
                : "SELECT nickname, password, credentials FROM users ORDER BY rowid");
        const std::vector<row> wanted = rows_of(s.lines, names);
        if (got != wanted) {
            ADD_FAILURE_AT(c.path.c_str(), s.line)
                << s.keyword << " " << s.raw << "\n"
                << difference(shown_lines(wanted), shown_lines(got));
        }
    }
}

class case_test : public testing::Test {
public:
    explicit case_test(std::shared_ptr<const case_def> c) : case_(std::move(c)) {}

    void TestBody() override {
        if (!case_->broken.empty()) {
            ADD_FAILURE_AT(case_->path.c_str(), case_->line) << case_->broken;
            return;
        }
        temp_dir dir;
        placeholders names = {{"FILE", dir.file("users.db")},
                              {"DIR", dir.path()},
                              {"PROGRAM", CORVANE_USERDB_PATH},
                              {"VERSION", CORVANE_VERSION}};
        for (const step& s : case_->steps) {
            try {
                run_step(*case_, s, names);
            } catch (const std::exception& e) {
                ADD_FAILURE_AT(case_->path.c_str(), s.line) << e.what();
                return;
            }
        }
    }

private:
    std::shared_ptr<const case_def> case_;
};

// Each case registered under its file's name and its title's letters and
// digits (every other run of bytes an underscore); a file that cannot be
// read, as one failing test.
[[maybe_unused]] const bool registered = [] {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(CORVANE_CASES_DIR)) {
        if (entry.path().extension() == ".cases") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::vector<case_def> cases;
        std::vector<std::string> names;
        try {
            cases = parse_cases(file.string());
            for (const case_def& c : cases) {
                std::string& name = names.emplace_back();
                for (const char ch : c.title) {
                    if (is(ch, isalnum)) name += ch;
                    if (!is(ch, isalnum) && !name.empty() && name.back() != '_') name += '_';
                }
                if (!name.empty() && name.back() == '_') name.pop_back();
                if (name.empty() || std::count(names.begin(), names.end(), name) > 1) {
                    fail(std::to_string(c.line) + ":a title names no new test");
                }
            }
        } catch (const std::exception& e) {
            const std::string what = e.what();
            const std::size_t colon = what.find(':');
            cases = {{file.string(), "", std::atoi(what.c_str()), {}, what.substr(colon + 1)}};
            names = {"case_file"};
        }
        for (std::size_t i = 0; i < cases.size(); ++i) {
            auto shared = std::make_shared<const case_def>(cases[i]);
            testing::RegisterTest((file.stem().string() + "_cases").c_str(), names[i].c_str(),
                                  nullptr, nullptr, file.c_str(), shared->line,
                                  [shared] { return new case_test(shared); });
        }
    }
    return true;
}();

}  // namespace
}  // namespace corvane::test
