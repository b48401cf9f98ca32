// Points on one net must read alike: the curve between a net and common is
// the net's, whichever pad the probe touches. A pad that reads unlike the
// rest of its net is a broken trace or a cold joint, which shows without a
// good board to compare with.
#pragma once

#include "signature.h"

#include <vector>

namespace sig {

struct NetAgreement
{
    QString net;
    std::vector<int> points; // its measured points, in the signature's order
    std::vector<int> disagreeing; // those that read unlike the rest
    // A majority of the net read alike and says which pads are unlike it;
    // without one every pad unlike another is flagged.
    bool decided = true;
    bool agree() const { return disagreeing.empty(); }
};

// Judges one net from its points' curves (curves[k] is point k's first
// measurement's test curve, null when not measured). The curve that agrees
// with most of the net stands for it and each point is scored against it
// with the point's own tolerance. When the curves that agree with it are no
// majority (two pins that differ, a net split in halves) nothing says which
// side is right, and every point that is not alike with all the others is
// flagged. Points measured with other settings than the net's first are
// left out: their curves cannot be compared.
NetAgreement checkNet(const Signature &signature, const std::vector<int> &points,
    const std::vector<const IvCurve *> &curves);

// Every net with two or more measured points, in the order of their first point.
std::vector<NetAgreement> checkNets(
    const Signature &signature, const std::vector<const IvCurve *> &curves);

// The points that share their net with another point among `points`: net by
// net, in the order of each net's first point there.
std::vector<std::vector<int>> sharedNets(
    const Signature &signature, const std::vector<int> &points);

// For people: "net VCC reads unlike R2.1, U3.4" for a point of that net and
// the other points it was compared with.
QString netDisagreementText(
    const Signature &signature, const Point &point, const std::vector<int> &others);

} // namespace sig
