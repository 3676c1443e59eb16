#pragma once
// Process CPU time (user + system), for tests that must not spin.

#include <sys/resource.h>

namespace vq::test {

inline double process_cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace vq::test
