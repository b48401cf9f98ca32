// The controller's receive side: bytes into lines as GRBL reads them (ended
// by \n, \r or \r\n; one too long becomes an overflow mark), the realtime
// bytes picked out wherever they fall.
#pragma once

#include <QByteArray>

#include <deque>
#include <functional>

namespace gantry {

class LineReader
{
public:
    // A line too long for GRBL's buffer, answered error:11.
    static const QByteArray kOverflow;

    void read(const QByteArray &bytes, const std::function<void(unsigned char)> &realtime);
    // A new client starts with no half-received line of the one before.
    void dropPartialLine() { partial_.clear(), overflow_ = false; }
    void clear() { lines_.clear(), dropPartialLine(); }
    bool empty() const { return lines_.empty(); }
    QByteArray take();

private:
    QByteArray partial_;
    bool overflow_ = false;
    bool lastWasCr_ = false;
    std::deque<QByteArray> lines_; // received, not yet executed
};

} // namespace gantry
