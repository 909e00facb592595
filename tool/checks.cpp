#include "checks.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <corvane/chars.hpp>

namespace corvane::userdb {

namespace {

// In the order they are compared.
constexpr std::array<const char*, 8> credential_classes{"admin", "super", "op",    "user",
                                                        "bot",   "ubot",  "opbot", "opubot"};

[[noreturn]] void refuse(const char* message) {
    std::fputs(message, stderr);
    std::exit(EXIT_FAILURE);
}

bool has_control_byte(const char* text) {
    for (const char* at = text; *at != '\0'; ++at) {
        if (static_cast<unsigned char>(*at) < 0x20) return true;
    }
    return false;
}

}  // namespace

const char* nickname_fault(const char* nickname) {
    if (std::strlen(nickname) > NICKNAME_LIMIT) return "User name is too long.\n";
    // Only the first byte is held to the blank rule; TAB and CR further in
    // are control bytes.
    if (char_is_blank(nickname[0])) return "User name cannot start with white space.\n";
    if (has_control_byte(nickname)) return "User name contains illegal characters.\n";
    if (!utf8_valid(nickname)) return "User name must be utf-8 encoded.\n";
    return nullptr;
}

const char* password_fault(const char* password) {
    if (std::strlen(password) > PASSWORD_LIMIT) return "Password is too long.\n";
    if (!utf8_valid(password)) return "Password must be utf-8 encoded.\n";
    return nullptr;
}

const char* find_credentials(const char* word) {
    for (const char* name : credential_classes) {
        if (std::strcmp(word, name) == 0) return name;
    }
    return nullptr;
}

void check_nickname(const char* nickname) {
    if (const char* fault = nickname_fault(nickname)) refuse(fault);
}

void check_password(const char* password) {
    if (const char* fault = password_fault(password)) refuse(fault);
}

const char* check_credentials(const char* word) {
    if (const char* name = find_credentials(word)) return name;
    refuse(
        "Invalid user credentials. Must be one of: 'bot', 'ubot', 'opbot', 'opubot', "
        "'admin', 'super', 'op' or 'user'\n");
}

}  // namespace corvane::userdb
