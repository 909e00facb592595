#include <corvane/text.hpp>

namespace corvane {}  // namespace corvane
