#include "checks.hpp"

#include <array>

#include <corvane/chars.hpp>

#include "messages.hpp"

namespace corvane::userdb {

namespace {

// In the order they are compared.
constexpr std::array<std::string_view, 8> credential_classes{"admin", "super", "op",    "user",
                                                             "bot",   "ubot",  "opbot", "opubot"};

constexpr const char* CREDENTIALS_FAULT =
    "Invalid user credentials. Must be one of: 'bot', 'ubot', 'opbot', 'opubot', "
    "'admin', 'super', 'op' or 'user'\n";

bool has_control_byte(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) return true;
    }
    return false;
}

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

}  // namespace

account_verdict judge_account(const account_fields& fields) {
    const char* fault = fields.nickname ? nickname_fault(*fields.nickname) : nullptr;
    if (fault == nullptr && fields.password) fault = password_fault(*fields.password);
    if (fault != nullptr || !fields.class_word) return {fault, nullptr};
    for (const std::string_view name : credential_classes) {
        if (*fields.class_word == name) return {nullptr, name.data()};
    }
    return {CREDENTIALS_FAULT, nullptr};
}

const char* check_account(const account_fields& fields) {
    const account_verdict verdict = judge_account(fields);
    if (verdict.fault != nullptr) fail("%s", verdict.fault);
    return verdict.credentials;
}

}  // namespace corvane::userdb
