#include "homing.h"

namespace gantry {
namespace {

constexpr double kLocateSeconds = 0.3; // homing's slow approach and pull-off

void seek(Motion &motion, const Settings &settings, const Axes &to)
{
    motion.push({ to, motion.cappedSpeed(motion.position(), to, settings.homingRate()), false });
}

} // namespace

void HomingCycle::start(Motion &motion, const Settings &settings)
{
    phase_ = Phase::SeekingZ;
    const Axes &at = motion.position();
    seek(motion, settings, { at[0], at[1], settings.home()[2] });
}

bool HomingCycle::advance(Motion &motion, const Settings &settings, double now)
{
    const Axes home = settings.home();
    if (phase_ == Phase::SeekingZ && !motion.busy()) {
        phase_ = Phase::SeekingXY;
        seek(motion, settings, { home[0], home[1], motion.position()[2] });
    } else if (phase_ == Phase::SeekingXY && !motion.busy()) {
        phase_ = Phase::Locating;
        until_ = now + kLocateSeconds;
    } else if (phase_ == Phase::Locating && now >= until_) {
        phase_ = Phase::None;
        motion.setPosition(home);
        return true;
    }
    return false;
}

} // namespace gantry
