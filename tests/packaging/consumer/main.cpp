// Links against the installed library and calls into it; exits 0 only when
// the calls give the documented answers.
#include <corvane/util.hpp>

int main() {
    const bool ok = corvane::utf8_valid("h\xC3\xA9llo") && !corvane::utf8_valid("\xC0\x80") &&
                    corvane::char_is_blank('\t') && !corvane::char_is_blank('\n');
    return ok ? 0 : 1;
}
