// A board test as JUnit XML, for the build servers and dashboards that read
// test results in that form: one testsuite per board run, one testcase per
// point, inside one testsuites.
#pragma once

#include "runrecord.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace sig {

// How a point's verdict shows in JUnit. Every verdict has exactly one row in
// junitOutcome()'s table; a new verdict is a new row there.
enum class JUnitOutcome { Passed, Failure, Skipped, Error };
JUnitOutcome junitOutcome(Verdict verdict);
struct JUnitCase;
JUnitOutcome junitOutcome(const JUnitCase &c);

struct JUnitCase
{
    QString point;
    Verdict verdict = Verdict::NotTested;
    double score = NAN; // percent; NaN when nothing was compared
    double tolerance = 0; // percent
    QString cause; // the cause's text, empty when none was found
    QString reading;
    double seconds = 0; // from the point's start to its verdict
    // Why the run stopped at this point (the device or the machine failed):
    // an error whatever its verdict.
    QString error;
    // For people, written as the case's system-out: the variant it passed
    // by, or that it is for information only (a pass whatever its verdict).
    QString note;
    bool info = false;
};

struct JUnitSuite
{
    RunHeader header;
    std::vector<JUnitCase> cases; // in the order probed
};

// A run as one suite: the points in the order probed with their results,
// the point where a failure stopped the run an error, every point of the
// board the run did not test skipped (saying why), and the points marked
// skip.
JUnitSuite junitSuite(const RunRecord &record);

QByteArray junitXml(const std::vector<JUnitSuite> &suites);

} // namespace sig
