#include <corvane/base32.hpp>

namespace corvane {}  // namespace corvane
