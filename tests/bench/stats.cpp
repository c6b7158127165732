#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

Spread Summarize(std::vector<double> samples)
{
    Spread spread;
    spread.count = static_cast<int>(samples.size());
    if (samples.empty())
        return spread;
    std::sort(samples.begin(), samples.end());
    size_t middle = samples.size() / 2;
    spread.median = samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
    spread.min = samples.front();
    spread.max = samples.back();
    return spread;
}

bool FitExponent(const std::vector<double> &x, const std::vector<double> &y, double *exponent)
{
    if (x.size() != y.size() || x.size() < 2)
        return false;
    double n = static_cast<double>(x.size());
    double sx = 0, sy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        if (!(x[i] > 0) || !(y[i] > 0))
            return false;
        sx += std::log(x[i]);
        sy += std::log(y[i]);
    }
    double mx = sx / n, my = sy / n, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        double dx = std::log(x[i]) - mx;
        sxx += dx * dx;
        sxy += dx * (std::log(y[i]) - my);
    }
    if (sxx <= 0)
        return false;  // all x equal: no slope to speak of
    *exponent = sxy / sxx;
    return true;
}

static bool Near(double a, double b)
{
    return std::fabs(a - b) < 1e-9 * (1 + std::fabs(b));
}

bool CheckStats()
{
    bool good = true;
    auto expect = [&](bool condition, const char *what) {
        if (!condition) {
            std::printf("stats check failed: %s\n", what);
            good = false;
        }
    };

    Spread odd = Summarize({9, 1, 5});
    expect(odd.count == 3 && odd.median == 5 && odd.min == 1 && odd.max == 9, "median of an odd count");
    Spread even = Summarize({4, 1, 3, 10});
    expect(even.count == 4 && Near(even.median, 3.5) && even.min == 1 && even.max == 10, "median of an even count");
    expect(Summarize({}).count == 0, "no samples, no figure");

    double slope = 0;
    expect(FitExponent({100, 1000, 10000}, {2, 20, 200}, &slope) && Near(slope, 1), "linear growth gives 1");
    expect(FitExponent({100, 1000, 10000}, {1, 100, 10000}, &slope) && Near(slope, 2), "quadratic growth gives 2");
    // Unevenly spaced points off a line (log x 0, 1, 3; log y 0, 2, 3): the
    // least-squares slope is 13/14, where the outer points alone would give 1.
    expect(FitExponent({1, 10, 1000}, {1, 100, 1000}, &slope) && Near(slope, 13.0 / 14.0),
           "least squares, not end points");
    expect(!FitExponent({5, 5}, {1, 2}, &slope), "equal x has no slope");
    expect(!FitExponent({1, 10}, {0, 2}, &slope), "a zero time cannot be fitted");
    expect(!FitExponent({1}, {1}, &slope), "one point has no slope");
    return good;
}

}  // namespace bench
