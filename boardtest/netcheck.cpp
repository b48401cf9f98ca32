#include "netcheck.h"

#include "score.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>

#include <algorithm>

namespace sig {

namespace {

bool sameSettings(const measurement_settings &a, const measurement_settings &b)
{
    return a.SamplingRate == b.SamplingRate && a.ProbeSignalFrequency == b.ProbeSignalFrequency
        && a.NumberPoints == b.NumberPoints && a.NumberChargePoints == b.NumberChargePoints
        && a.MaxVoltage == b.MaxVoltage && a.CurrentSensorMode == b.CurrentSensorMode
        && a.OutputMode == b.OutputMode;
}

const IvCurve *curveOf(const std::vector<const IvCurve *> &curves, int k)
{
    return k >= 0 && std::size_t(k) < curves.size() ? curves[std::size_t(k)] : nullptr;
}

} // namespace

NetAgreement checkNet(const Signature &signature, const std::vector<int> &points,
    const std::vector<const IvCurve *> &curves)
{
    NetAgreement a;
    const measurement_settings *settings = nullptr;
    for (int k : points) {
        if (k < 0 || std::size_t(k) >= signature.points.size() || !curveOf(curves, k))
            continue;
        const Point &p = signature.points[std::size_t(k)];
        if (a.net.isEmpty())
            a.net = p.net;
        const measurement_settings &s = signature.settingsOf(p, 0);
        if (!settings)
            settings = &s;
        else if (!sameSettings(*settings, s))
            continue;
        a.points.push_back(k);
    }
    std::sort(a.points.begin(), a.points.end());
    const std::size_t n = a.points.size();
    if (n < 2)
        return a;
    std::vector<double> tolerance(n);
    for (std::size_t i = 0; i < n; ++i)
        tolerance[i] = signature.toleranceOf(signature.points[std::size_t(a.points[i])]);
    // Every pair once; a net is a handful of pads, a ground at most hundreds.
    std::vector<double> scores(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            scores[i * n + j] = scores[j * n + i] = score(
                *curves[std::size_t(a.points[i])], *curves[std::size_t(a.points[j])], *settings);
    const auto at = [&](std::size_t i, std::size_t j) { return scores[i * n + j]; };
    const auto alike = [&](std::size_t i, std::size_t j) {
        return at(i, j) <= std::min(tolerance[i], tolerance[j]);
    };
    // The curve alike with most of the net stands for it; of equals, the one
    // nearest the rest.
    std::size_t centre = 0;
    std::size_t bestCount = 0;
    double bestSum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t count = 0;
        double sum = 0;
        for (std::size_t j = 0; j < n; ++j) {
            count += alike(i, j);
            sum += at(i, j);
        }
        if (count > bestCount || (count == bestCount && sum < bestSum)) {
            centre = i;
            bestCount = count;
            bestSum = sum;
        }
    }
    const bool majority = 2 * bestCount > n;
    a.decided = majority;
    for (std::size_t i = 0; i < n; ++i) {
        bool flagged = false;
        if (majority)
            flagged = at(i, centre) > tolerance[i];
        else
            for (std::size_t j = 0; j < n && !flagged; ++j)
                flagged = at(i, j) > tolerance[i];
        if (flagged)
            a.disagreeing.push_back(a.points[i]);
    }
    return a;
}

std::vector<std::vector<int>> sharedNets(const Signature &signature, const std::vector<int> &points)
{
    std::vector<std::vector<int>> nets;
    QHash<QString, std::size_t> index;
    for (int k : points) {
        if (k < 0 || std::size_t(k) >= signature.points.size())
            continue;
        const QString &net = signature.points[std::size_t(k)].net;
        if (net.isEmpty())
            continue;
        const auto it = index.constFind(net);
        if (it == index.cend()) {
            index.insert(net, nets.size());
            nets.push_back({ k });
        } else if (std::find(nets[*it].begin(), nets[*it].end(), k) == nets[*it].end()) {
            nets[*it].push_back(k);
        }
    }
    nets.erase(std::remove_if(nets.begin(), nets.end(),
                   [](const std::vector<int> &net) { return net.size() < 2; }),
        nets.end());
    return nets;
}

QString netDisagreementText(
    const Signature &signature, const Point &point, const std::vector<int> &others)
{
    QStringList names;
    for (int k : others)
        if (k >= 0 && std::size_t(k) < signature.points.size())
            names << signature.points[std::size_t(k)].name;
    return QCoreApplication::translate("sig::NetCheck", "net %1 reads unlike %2")
        .arg(point.net, names.join(QStringLiteral(", ")));
}

std::vector<NetAgreement> checkNets(
    const Signature &signature, const std::vector<const IvCurve *> &curves)
{
    std::vector<int> measured;
    for (std::size_t k = 0; k < signature.points.size(); ++k)
        if (curveOf(curves, int(k)))
            measured.push_back(int(k));
    std::vector<NetAgreement> out;
    for (const std::vector<int> &net : sharedNets(signature, measured)) {
        NetAgreement a = checkNet(signature, net, curves);
        if (a.points.size() >= 2)
            out.push_back(std::move(a));
    }
    return out;
}

} // namespace sig
