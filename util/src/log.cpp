#include <corvane/log.hpp>

namespace corvane {}  // namespace corvane
