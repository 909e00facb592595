#include <corvane/convert.hpp>

namespace corvane {}  // namespace corvane
