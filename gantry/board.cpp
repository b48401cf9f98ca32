#include "board.h"

#include "readfile.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace gantry {
namespace {

constexpr double kReach = 0.5; // mm: a sprung tip lands on a pad this close
constexpr std::size_t kMaxFile = std::size_t(256) << 20; // a signature's limit

using Json = nlohmann::json;

bool finite(const Json &j)
{
    return j.is_number() && std::isfinite(j.get<double>());
}

} // namespace

int Board::pointUnder(const Axes &p) const
{
    // The tip is sprung: below the surface it still touches.
    if (p[2] > surface + 1e-9)
        return -1;
    int best = -1;
    double bestDistance = kReach;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const BoardPoint &b = points[i];
        if (!b.placed || !b.top)
            continue;
        const double d = std::hypot(originX + b.x - p[0], originY + b.y - p[1]);
        if (d <= bestDistance) {
            bestDistance = d;
            best = int(i);
        }
    }
    return best;
}

std::optional<std::vector<BoardPoint>> readPoints(const std::string &path, std::string &error)
{
    std::string bytes;
    error = zem::files::readFile(path, kMaxFile, "a points file", bytes);
    if (!error.empty())
        return std::nullopt;
    const Json root = Json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded() || !root.is_object()) {
        error = path + ": not a JSON object";
        return std::nullopt;
    }
    const auto list = root.find("points");
    if (list == root.end() || !list->is_array()) {
        error = path + ": expected a list of points under \"points\"";
        return std::nullopt;
    }
    std::vector<BoardPoint> points;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const Json &p = (*list)[i];
        const std::string where = path + ": point " + std::to_string(i);
        if (!p.is_object()) {
            error = where + ": expected an object";
            return std::nullopt;
        }
        BoardPoint b;
        if (const auto mm = p.find("mm"); mm != p.end()) {
            if (!mm->is_array() || mm->size() != 2 || !finite((*mm)[0]) || !finite((*mm)[1])) {
                error = where + ": \"mm\" must be [x, y], two finite numbers";
                return std::nullopt;
            }
            b.placed = true;
            b.x = (*mm)[0].get<double>();
            b.y = (*mm)[1].get<double>();
        }
        if (const auto side = p.find("side"); side != p.end()) {
            if (*side != "top" && *side != "bottom") {
                error = where + ": \"side\" must be \"top\" or \"bottom\"";
                return std::nullopt;
            }
            b.top = *side == "top";
        }
        points.push_back(b);
    }
    return points;
}

} // namespace gantry
