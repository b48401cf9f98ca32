#include "capability.h"

#include "store.h"

#include <QHash>

#include <algorithm>
#include <numeric>

namespace zem::history {

const char *basisName(Capability::Basis basis)
{
    switch (basis) {
    case Capability::Basis::Quantile:
        return "quantile";
    case Capability::Basis::Normal:
        return "normal";
    case Capability::Basis::None:
        break;
    }
    return "not_enough_data";
}

double normalQuantile(double p)
{
    if (!(p > 0 && p < 1))
        return NAN;
    // Bisection on the CDF, 0.5 erfc(-z / sqrt 2): exact to double precision
    // in a hundred steps, and never called in a loop over scores.
    double low = -40, high = 40;
    for (int k = 0; k < 200 && high - low > 1e-12; ++k) {
        const double mid = (low + high) / 2;
        (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? low : high) = mid;
    }
    return (low + high) / 2;
}

Capability capabilityOf(std::vector<double> scores, double tolerance, double rate)
{
    Capability c;
    c.tolerance = tolerance;
    c.n = qint64(scores.size());
    if (scores.empty())
        return c;
    const double n = double(scores.size());
    c.mean = std::accumulate(scores.begin(), scores.end(), 0.0) / n;
    if (scores.size() < 2)
        return c;
    // Two passes: the squares about the mean, not the mean of squares,
    // which cancels badly when the spread is small beside the mean.
    double squares = 0;
    for (double s : scores)
        squares += (s - c.mean) * (s - c.mean);
    c.sigma = std::sqrt(squares / (n - 1));
    // Scores that never vary say nothing of the tail: a tolerance of their
    // one value would fail the next good board that differs at all.
    if (!(c.sigma > 0))
        return c;
    c.cpk = (tolerance - c.mean) / (3 * c.sigma);
    const auto above = std::size_t(std::floor(n * rate));
    const auto at = scores.begin() + std::ptrdiff_t(scores.size() - 1 - above);
    std::nth_element(scores.begin(), at, scores.end());
    c.suggestedTolerance = *at;
    c.basis = Capability::Basis::Quantile;
    if (above == 0) {
        const double normal = c.mean + normalQuantile(1 - rate) * c.sigma;
        if (normal > c.suggestedTolerance) {
            c.suggestedTolerance = normal;
            c.basis = Capability::Basis::Normal;
        }
    }
    return c;
}

std::optional<std::vector<Capability>> capability(
    Store &store, const QString &boardType, double rate, QString *error)
{
    struct Point
    {
        std::vector<double> scores;
        double tolerance = NAN;
        qint64 newest = 0;
    };
    QHash<QString, Point> points;
    const bool read = store.goodScores(boardType, [&](const GoodScore &s) {
        Point &p = points[s.point];
        p.scores.push_back(s.score);
        if (p.scores.size() == 1 || s.startedMs >= p.newest) {
            p.newest = s.startedMs;
            p.tolerance = s.tolerance;
        }
    });
    if (!read) {
        if (error)
            *error = store.errorString();
        return std::nullopt;
    }
    std::vector<Capability> list;
    for (auto it = points.begin(); it != points.end(); ++it) {
        list.push_back(capabilityOf(std::move(it->scores), it->tolerance, rate));
        list.back().point = it.key();
    }
    std::sort(list.begin(), list.end(),
        [](const Capability &a, const Capability &b) { return a.point < b.point; });
    return list;
}

} // namespace zem::history
