// A gantry set up to probe one board: the machine's heights and feeds from
// the prober URL, the board placed on the machine by the fiducials taught on
// it, and every point's target from its board position in millimetres.
#pragma once

#include "gantryprober.h"
#include "signature.h"

#include <functional>
#include <memory>
#include <optional>

namespace motion {

// Reads the prober URL: `grbl:/dev/ttyUSB0?baud=115200&safe=-5&surface=-40`
// or `grbl-tcp://host:port?...`, with the machine's Z heights (`safe`, the
// travel height; `surface`, the board's), feeds in mm/s (`feed` across,
// `contact_feed` down), the retries' `step` and `travel` in mm, the
// heights between points (`clearance`, `part_margin`, `part_reach`, mm;
// gantrymoves.h), the `accel` the order assumes (mm/s²), and the deadlines
// (`reply_ms`, `status_ms`, `margin`, `slack_ms`, `homing_s`; deadlines.h).
// What is left (the transport and baud=) stays in config->url.
bool parseProberUrl(const QString &url, GantryConfig *config, QString *error);

// The board on the machine: fitted to its fiducials that have a taught
// machine position (two or more); the side probed is the points' side.
bool boardPlacement(const sig::Signature &board, TransformFit *fit, QString *error);

// How far a teach may be off before it is refused.
struct TeachLimits
{
    double residualMm = 0.2; // any fiducial from the fit
    double scale = 0.005; // the fit's scale from 1
};
// With two taught fiducials or more: why the placement cannot be trusted
// (past the limits: each fiducial's residual and the likely cause), or
// empty. The fit in *fit either way.
QString teachProblem(const sig::Signature &board, const TeachLimits &limits, TransformFit *fit);

// A prober for the points of the board (indices into board.points), each
// with its board position, and the board's parts with their heights when
// every part has one; false, naming the points without one, else.
// `line`: a machine held open across runs (gantryline.h).
std::unique_ptr<GantryProber> boardProber(const QString &url, const sig::Signature &board,
    const std::vector<int> &points, QString *error, TransformFit *fit = nullptr,
    std::shared_ptr<GantryLine> line = {});

// After a run, one taught fiducial probed again: a board that moved in its
// fixture during the run shows here. Nothing when no fiducial is taught or
// the machine cannot say where it stopped; `stop` is asked between polls.
// On a failure or a stop, nothing and *error says why.
struct FiducialDrift
{
    QString fiducial;
    Drift drift; // beyond 0.1 mm: the board moved
};
std::optional<FiducialDrift> recheckFiducial(GantryProber &gantry, const sig::Signature &board,
    zem::Connection &device, const std::function<bool()> &stop, QString *error);

// The machine XY of each of the points, for ordering them by path.
std::vector<PlanePoint> machineTargets(const GantryConfig &config, const std::vector<int> &points);

} // namespace motion
