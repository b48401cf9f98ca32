#include "trace.h"

#include <cmath>

namespace gantry {
namespace {

QByteArray line(const Axes &p)
{
    QByteArray text;
    for (std::size_t k = 0; k < 3; ++k)
        text += QByteArray::number(std::abs(p[k]) < 5e-4 ? 0.0 : p[k], 'f', 3)
            + (k < 2 ? " " : "\n");
    return text;
}

} // namespace

bool PositionTrace::open(const QString &path, const Axes &start, QString *error)
{
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = file_.errorString();
        return false;
    }
    last_ = start;
    file_.write(line(start));
    file_.flush();
    return true;
}

void PositionTrace::pass(const Axes &p)
{
    if (!file_.isOpen() || p == last_)
        return;
    last_ = p;
    file_.write(line(p));
}

void PositionTrace::flush()
{
    if (file_.isOpen())
        file_.flush();
}

} // namespace gantry
