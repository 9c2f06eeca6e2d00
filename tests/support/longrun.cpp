#include "longrun.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace testsupport {

namespace {

// The largest count the programs take.
constexpr double largestcount = 16953818;

double secondstorun(const std::string& program, std::int64_t count, const runoptions& options)
{
    const auto started = std::chrono::steady_clock::now();
    const runresult result = runprogram(program, {std::to_string(count)}, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (result.status != 0) {
        throw std::runtime_error(program + " " + std::to_string(count) + " failed while being timed");
    }
    return seconds;
}

}  // namespace

std::int32_t countlasting(const std::string& program, double seconds, const runoptions& options)
{
    static std::mutex guard;
    static std::map<std::pair<std::string, double>, std::int32_t> measured;
    const std::lock_guard<std::mutex> lock(guard);
    const auto key = std::make_pair(program, seconds);
    if (const auto known = measured.find(key); known != measured.end()) {
        return known->second;
    }
    // What starting and ending the process costs (an emulator's or a
    // sanitizer's start-up too), which does not grow with the count.
    double startup = secondstorun(program, 0, options);
    for (int again = 0; again < 2; ++again) {
        startup = std::min(startup, secondstorun(program, 0, options));
    }
    // Long enough to time well, short enough that timing it three times
    // costs little beside the run wanted.
    const double timeable = std::min(0.1, seconds / 4);
    const auto computing = [&](std::int64_t count) {
        return std::max(secondstorun(program, count, options) - startup, 1e-4);
    };
    std::int64_t count = 500;
    double fastest = computing(count);
    while (fastest < timeable && count < largestcount) {
        // Aim at `timeable`, at most quadrupling the count at a time.
        const double growth = std::clamp(std::sqrt(timeable / fastest), 1.25, 4.0);
        count = static_cast<std::int64_t>(std::min(largestcount, std::ceil(count * growth)));
        fastest = computing(count);
    }
    for (int again = 0; again < 2; ++again) {
        fastest = std::min(fastest, computing(count));
    }
    const double wanted = std::ceil(count * std::sqrt(seconds / fastest));
    const auto chosen = static_cast<std::int32_t>(std::clamp(wanted, 1.0, largestcount));
    measured.emplace(key, chosen);
    return chosen;
}

}  // namespace testsupport
