// One current-voltage curve as the instrument delivered it.
#pragma once

#include "zem.h"

#include <QDateTime>

#include <chrono>
#include <cstddef>
#include <vector>

struct Curve
{
    // Points in sample order. A point that was never read (a frame missing
    // from a curve assembled page by page) holds NaN in both.
    std::vector<float> voltage; // V
    std::vector<float> current; // mA

    measurement_settings settings {}; // as read before the run
    bool hasSettings = false; // false for a curve assembled from single frames
    QDateTime started; // when the measurement was started (wall clock)
    std::chrono::nanoseconds duration {}; // from the first call to the last, 0 when unknown
    bool complete = false; // every point the settings ask for was read

    std::size_t size() const { return voltage.size(); }
    bool empty() const { return voltage.empty(); }
    // Whether point i was read and holds finite values.
    bool hasPoint(std::size_t i) const;
    // Milliseconds from the first sample; NaN without a positive sampling rate.
    double timeMs(std::size_t i) const;
    // Number of points that hold values.
    std::size_t pointsRead() const;

    // Stores one frame's points at FrameNumber * FRAME_SIZE, growing the curve
    // (with unread points) as needed; never beyond `limit` points when given.
    void putFrame(
        std::size_t frame, const get_measurement_response &response, std::size_t limit = 0);
};
