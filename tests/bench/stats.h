// Arithmetic for the printed figures: medians with their spread, ratios and
// the growth exponent fitted on log-log axes.
#pragma once

#include <vector>

namespace bench {

struct Spread {
    int count = 0;  // samples that went into the figure; 0: no figure at all
    double median = 0;
    double min = 0;
    double max = 0;
};

Spread Summarize(std::vector<double> samples);

// Least-squares slope of log(y) against log(x): y grows like x to that power.
// Needs two distinct positive x and positive y; returns false otherwise.
bool FitExponent(const std::vector<double> &x, const std::vector<double> &y, double *exponent);

// Checks the arithmetic above on cases with known answers; prints what differs.
bool CheckStats();

}  // namespace bench
