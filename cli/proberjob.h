// zemctl prober: a probing machine from the shell: its status, homing, an
// unlock, a jog,
// a point or fiducial gone to, a fiducial taught where the machine stands.
// The work is done in the signature module, which has the machine's line.
#pragma once

#include <string>
#include <vector>

namespace zemctl {

struct ProberJob
{
    enum class Action { Status, Home, Unlock, Jog, Goto, Teach, DryRun };
    Action action = Action::Status;
    std::string url; // grbl:... or grbl-tcp://..., with the heights and feeds
    std::string file; // goto, teach: the signature file
    std::string name; // goto: a point or fiducial; teach: a fiducial
    std::string at; // teach: X,Y to go to first (machine mm); jog: DX,DY[,DZ]
    double maxResidual = 0.2; // teach: mm, any fiducial off the fit
    bool stop = false; // dry run: wait for Enter above each fiducial

    // Filled in by the module.
    int exitCode = 0;
    std::string message; // why it failed
    std::string summary; // one JSON line
};

int proberMain(ProberJob &job);

} // namespace zemctl

extern "C" void zemctl_prober(zemctl::ProberJob *job);
using ZemctlProberFunction = void (*)(zemctl::ProberJob *);
