// Learning or testing a board point by point: a step machine the caller
// drives. The caller measures with settings() and hands each curve to
// record(); the session stores it as a reference (Learn) or compares it with
// the references (Test), and moves on.
#pragma once

#include "faults.h"

#include "cause.h"
#include "netcheck.h"
#include "reading.h"
#include "signature.h"
#include "verdict.h"

#include <cmath>

namespace sig {

struct PointResult
{
    Verdict verdict = Verdict::NotTested;
    double score = NAN; // the largest of its measurements' scores, percent
    std::vector<IvCurve> curves; // the test curve of each measurement
    Reading reading; // of the first measurement's test curve
    std::optional<Cause> cause; // why it is different
    int boards = 0; // good boards its references come from
    // NetDisagrees: the other measured points of its net, which it reads unlike.
    std::vector<int> netPoints;
    // What a person should look at, never a failure: a resistor that reads
    // far from its value in the bill of materials.
    QString note;
    // The variant the point passed by, empty for its own references.
    QString variant;
    // The point is marked "info": its verdict is shown but never fails the board.
    bool info = false;
    // The version of the models its references were predicted with; empty
    // when learned from a board.
    QString predictedBy;
    // Different, on a board with its parts from the netlist: the single
    // faults that best explain its curves, best first ("R12 open: matches
    // 96 %").
    std::vector<predict::LikelyFault> likelyFaults;
};

// What a result says beyond its verdict, for people: "variant: maker B",
// "for information only", "reference predicted (models 1)", "likely: R12
// open: matches 96 %, ...", joined by "; "; empty when none.
QString resultMarks(const PointResult &r);
// "skipped: not probed", the word for a point marked "skip".
QString skippedText();

// Default of Session::Options::bomFactor.
inline constexpr double kDefaultBomFactor = 2.0;

// The note on a point whose resistance reads beyond `factor` times from its
// expected value either way ("reads 1.20 kΩ, BOM says 4.70 kΩ"), else empty.
QString bomNote(const Point &point, const Reading &reading, double factor);

class Session
{
public:
    enum class Mode { Learn, Test };

    struct Options
    {
        // Learn: add this board's curves to the references, not replace them.
        bool add = false;
        // Test: captures of each measurement; when they differ from each
        // other by more than the tolerance the point is unstable.
        int repeat = 1;
        // Learn: measure each one-measurement point with every current range
        // and keep the settings that show it best (autosettings.h).
        bool autoSettings = false;
        // Test: a resistor reading beyond this factor from its expected
        // value gets a note.
        double bomFactor = kDefaultBomFactor;
        // Learn: the curves become this variant's references (the variant
        // added when new), not the point's own. Each point must be learned.
        QString variant;
    };

    // The signature must outlive the session; Learn writes its references.
    Session(Signature &signature, Mode mode);
    Session(Signature &signature, Mode mode, Options options);

    Mode mode() const { return mode_; }
    const Options &options() const { return options_; }
    // Past the last point: nothing left to measure.
    bool done() const { return point_ >= int(signature_.points.size()); }
    int point() const { return point_; }
    std::size_t measurement() const { return measurement_; }
    // The settings the next curve must be measured with.
    const measurement_settings &settings() const;
    // Continue with a point chosen by the user, from its first measurement.
    void select(int point);

    struct Step
    {
        int point = -1;
        bool pointDone = false; // the point's last measurement was recorded
        Verdict verdict = Verdict::NotTested; // once the point is done, in Test
        double score = NAN; // of this measurement, in Test with a reference
    };
    // Takes the curve measured for the current point; ignored when done().
    Step record(const IvCurve &curve);
    // Ends the current point without a verdict on the board: the prober found
    // no contact, so its curve says nothing of the pin. `curve` is the last
    // open capture, kept for the report.
    Step noContact(const IvCurve &curve);

    const std::vector<PointResult> &results() const { return results_; }

    // Test: compares the points of one net (measured, in any order) with
    // each other once they are all measured. A flagged point that passed or
    // is not learned becomes NetDisagrees; one flagged before and alike now
    // (measured again) gets its own verdict back.
    void judgeNet(const std::vector<int> &points);
    // How the measured points among these agree, leaving out those whose
    // captures disagree or that found no contact.
    NetAgreement netAgreement(const std::vector<int> &points) const;

private:
    bool choosingSettings() const;
    void enterPoint();
    void finishMeasurement(Point &p, PointResult &r);

    Signature &signature_;
    Mode mode_;
    Options options_;
    int point_ = 0;
    std::size_t measurement_ = 0;
    std::vector<IvCurve> captures_; // of the current measurement
    std::vector<measurement_settings> candidates_; // while choosing settings
    std::vector<PointResult> results_;
    // Test: each variant's score of the current point, as r.score is its own.
    std::vector<double> variantScores_;
};

} // namespace sig
