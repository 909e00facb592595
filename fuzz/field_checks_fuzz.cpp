// The account field checks on arbitrary bytes: each verdict is recomputed
// from the rules, written out again here, with the independent UTF-8 reference.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../tool/checks.hpp"
#include "utf8_reference.hpp"

namespace {

bool is_utf8(const std::string& s) { return corvane::reference::utf8_valid(s.data(), s.size()); }

const char* expected_nickname_fault(const std::string& s) {
    if (s.size() > 64) return "User name is too long.\n";
    if (!s.empty() && (s[0] == '\t' || s[0] == '\r' || s[0] == ' ')) {
        return "User name cannot start with white space.\n";
    }
    for (const char c : s) {
        if (static_cast<unsigned char>(c) < 0x20) return "User name contains illegal characters.\n";
    }
    if (!is_utf8(s)) return "User name must be utf-8 encoded.\n";
    return nullptr;
}

const char* expected_password_fault(const std::string& s) {
    if (s.size() > 64) return "Password is too long.\n";
    if (!is_utf8(s)) return "Password must be utf-8 encoded.\n";
    return nullptr;
}

bool same(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return a == b;
    return std::strcmp(a, b) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A text as the command line would pass it: everything before a NUL.
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));

    using namespace corvane::userdb;
    if (!same(judge_account({.nickname = text}).fault, expected_nickname_fault(text))) std::abort();
    if (!same(judge_account({.password = text}).fault, expected_password_fault(text))) std::abort();

    const char* found = judge_account({.class_word = text}).credentials;
    static const char* const classes[] = {"admin", "super", "op",    "user",
                                          "bot",   "ubot",  "opbot", "opubot"};
    bool known = false;
    for (const char* name : classes) known = known || text == name;
    if ((found != nullptr) != known) std::abort();
    if (found != nullptr && (text != found || found == text.c_str())) std::abort();
    return 0;
}
