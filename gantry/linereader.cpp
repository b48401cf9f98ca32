#include "linereader.h"

namespace gantry {
namespace {

constexpr int kMaxLine = 127; // with its newline, a line fills GRBL's 128-byte buffer
constexpr std::size_t kMaxQueuedLines = 4096; // beyond: a client ignoring flow control

} // namespace

const QByteArray LineReader::kOverflow(1, '\x01');

void LineReader::read(const QByteArray &bytes, const std::function<void(unsigned char)> &realtime)
{
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        // Realtime bytes act at once, wherever they fall in a line.
        if (c == '?' || c == '!' || c == '~' || c == 0x18 || c >= 0x80) {
            realtime(c);
            continue;
        }
        const bool cr = c == '\r';
        if (c == '\n' && lastWasCr_) {
            lastWasCr_ = false;
            continue; // "\r\n" ends one line
        }
        lastWasCr_ = cr;
        if (c == '\n' || cr) {
            if (lines_.size() < kMaxQueuedLines)
                lines_.push_back(overflow_ ? kOverflow : partial_);
            dropPartialLine();
        } else if (partial_.size() < kMaxLine) {
            partial_ += ch;
        } else {
            overflow_ = true;
        }
    }
}

QByteArray LineReader::take()
{
    QByteArray line = std::move(lines_.front());
    lines_.pop_front();
    return line;
}

} // namespace gantry
