// Sets the process time zone for one test and puts the caller's back when
// the object goes.
#pragma once

#include <time.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace corvane::test {

class time_zone {
public:
    time_zone() {
        if (const char* zone = std::getenv("TZ")) saved_ = zone;
    }
    ~time_zone() {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    time_zone(const time_zone&) = delete;
    time_zone& operator=(const time_zone&) = delete;

    // Changes TZ only: tzset is left to the code under test, which must
    // notice the change itself (localtime does, localtime_r need not).
    static void set(const char* zone) { setenv("TZ", zone, 1); }

private:
    std::optional<std::string> saved_;
};

}  // namespace corvane::test
