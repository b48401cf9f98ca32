// How capable each point of a board type is, from the scores of the good
// boards in the history (runs whose verdict is pass): the score's mean and
// spread, Cpk against the point's tolerance, and the tolerance that would
// keep good boards from failing at a chosen rate. Nothing here changes a
// signature: the suggestion is for people to weigh.
#pragma once

#include <QString>

#include <cmath>
#include <optional>
#include <vector>

namespace zem::history {

class Store;

// The false-fail rate the suggested tolerance aims at by default: 0.1 %.
inline constexpr double kDefaultFalseFailRate = 0.001;

struct Capability
{
    // How the suggested tolerance was found.
    enum class Basis {
        None, // fewer than two scores, or all alike (sigma 0): no suggestion
        Quantile, // the empirical quantile of the scores at 1 - rate
        Normal, // too few scores for that quantile: mean + z(1 - rate) sigma, above their maximum
    };

    QString point;
    qint64 n = 0; // scores of good boards
    double mean = NAN;
    double sigma = NAN; // the sample standard deviation (n - 1); NaN below two scores
    double tolerance = NAN; // the point's in the newest good run: the upper limit
    // (tolerance - mean) / (3 sigma): the score is one-sided, only its upper
    // limit counts. NaN when sigma is NaN or 0.
    double cpk = NAN;
    double suggestedTolerance = NAN;
    Basis basis = Basis::None;
};

// For machines: "quantile", "normal", or "not_enough_data" for no suggestion.
const char *basisName(Capability::Basis basis);

// The standard normal distribution's quantile: z with P(Z <= z) = p, 0 < p < 1.
double normalQuantile(double p);

// One point's figures from its scores (in any order) and its tolerance.
// The suggested tolerance is the smallest t with at most floor(n rate)
// scores above it: the (n - floor(n rate))-th smallest score. With fewer
// than 1 / rate scores that is their maximum, which says nothing of how far
// the tail reaches at that rate; the normal model's mean + z(1 - rate) sigma
// is then taken when it is larger.
Capability capabilityOf(std::vector<double> scores, double tolerance, double rate);

// Every point scored in a passing run of the board type, by name; the
// tolerance is the one of the newest such run. Nothing, with the reason in
// *error, when the history cannot be read.
std::optional<std::vector<Capability>> capability(
    Store &store, const QString &boardType, double rate, QString *error);

} // namespace zem::history
