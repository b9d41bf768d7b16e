// The failed-login table under a guessing storm from many addresses: the cost of one failure
// once n addresses are tracked (each address failing once within the minute, then every
// failure from an address the table has not seen or holds), and the addresses it keeps.
//   login_throttle_bench
#include "protection/LoginThrottle.h"

#include <QByteArray>

#include <chrono>
#include <cstdio>
#include <vector>

int main() {
    using Clock = LoginThrottle::Clock;
    using namespace std::chrono;
    std::printf("%10s %12s %16s\n", "addresses", "tracked", "us per failure");
    for (const int n : {1000, 10000, 40000, 65536, 200000}) {
        LoginThrottle throttle;
        std::vector<QByteArray> addresses;
        for (int i = 0; i < n; ++i)
            addresses.push_back("10." + QByteArray::number(i >> 16) + "." +
                                QByteArray::number((i >> 8) & 255) + "." +
                                QByteArray::number(i & 255));
        // The storm spreads over 30 s of the clock, so that nothing ages out while it runs.
        const Clock::time_point t0 = Clock::time_point() + hours(1);
        const auto at = [&](int i) { return t0 + microseconds(30'000'000LL * i / n); };
        for (int i = 0; i < n; ++i)
            throttle.Fail(addresses[size_t(i)], at(i));
        // Measured: the same addresses once more (half of them forgotten when n is beyond the
        // bound), in the same order.
        const auto start = steady_clock::now();
        for (int i = 0; i < n; ++i)
            throttle.Fail(addresses[size_t(i)], at(n - 1) + microseconds(i));
        const double us =
            double(duration_cast<nanoseconds>(steady_clock::now() - start).count()) / 1e3 / n;
        std::printf("%10d %12d %16.3f\n", n, throttle.Tracked(), us);
    }
    return 0;
}
