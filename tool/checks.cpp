#include "checks.hpp"

#include <array>

#include <corvane/chars.hpp>

#include "messages.hpp"

namespace corvane::userdb {

namespace {

// In the order they are compared.
constexpr std::array<std::string_view, 8> credential_classes{"admin", "super", "op",    "user",
                                                             "bot",   "ubot",  "opbot", "opubot"};

bool has_control_byte(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) return true;
    }
    return false;
}

}  // namespace

const char* nickname_fault(std::string_view nickname) {
    if (nickname.size() > NICKNAME_LIMIT) return "User name is too long.\n";
    // Only the first byte is held to the blank rule; TAB and CR further in
    // are control bytes.
    if (!nickname.empty() && char_is_blank(nickname[0])) {
        return "User name cannot start with white space.\n";
    }
    if (has_control_byte(nickname)) return "User name contains illegal characters.\n";
    if (!utf8_valid_n(nickname.data(), nickname.size()))
        return "User name must be utf-8 encoded.\n";
    return nullptr;
}

const char* password_fault(std::string_view password) {
    if (password.size() > PASSWORD_LIMIT) return "Password is too long.\n";
    if (password.find('\0') != std::string_view::npos ||
        !utf8_valid_n(password.data(), password.size())) {
        return "Password must be utf-8 encoded.\n";
    }
    return nullptr;
}

const char* find_credentials(std::string_view word) {
    for (const std::string_view name : credential_classes) {
        if (word == name) return name.data();
    }
    return nullptr;
}

const char* account_fault(std::string_view nickname, std::string_view password,
                          std::string_view class_word, const char** credentials) {
    if (const char* fault = nickname_fault(nickname)) return fault;
    if (const char* fault = password_fault(password)) return fault;
    *credentials = find_credentials(class_word);
    return *credentials == nullptr ? CREDENTIALS_FAULT : nullptr;
}

const char* check_account(std::string_view nickname, std::string_view password,
                          std::string_view class_word) {
    const char* credentials = nullptr;
    if (const char* fault = account_fault(nickname, password, class_word, &credentials)) {
        fail("%s", fault);
    }
    return credentials;
}

void check_nickname(std::string_view nickname) {
    if (const char* fault = nickname_fault(nickname)) fail("%s", fault);
}

void check_password(std::string_view password) {
    if (const char* fault = password_fault(password)) fail("%s", fault);
}

const char* check_credentials(std::string_view word) {
    if (const char* name = find_credentials(word)) return name;
    fail("%s", CREDENTIALS_FAULT);
}

}  // namespace corvane::userdb
