#include <corvane/plist.hpp>

namespace corvane {}  // namespace corvane
