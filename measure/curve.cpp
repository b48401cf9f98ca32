#include "curve.h"

#include <cmath>
#include <limits>

bool Curve::hasPoint(std::size_t i) const
{
    return i < size() && std::isfinite(voltage[i]) && std::isfinite(current[i]);
}

double Curve::timeMs(std::size_t i) const
{
    const double rate = settings.SamplingRate;
    if (!hasSettings || !(rate > 0) || !std::isfinite(rate))
        return std::numeric_limits<double>::quiet_NaN();
    return 1000.0 * double(i) / rate;
}

std::size_t Curve::pointsRead() const
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < size(); ++i)
        n += hasPoint(i) ? 1 : 0;
    return n;
}

void Curve::putFrame(std::size_t frame, const get_measurement_response &response, std::size_t limit)
{
    const std::size_t first = frame * FRAME_SIZE;
    std::size_t end = first + FRAME_SIZE;
    if (limit != 0 && end > limit)
        end = limit;
    if (end <= first)
        return;
    if (size() < end) {
        const float unread = std::numeric_limits<float>::quiet_NaN();
        voltage.resize(end, unread);
        current.resize(end, unread);
    }
    for (std::size_t i = first; i < end; ++i) {
        voltage[i] = response.Voltage[i - first];
        current[i] = response.Current[i - first];
    }
}
