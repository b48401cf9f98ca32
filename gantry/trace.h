// Every position the machine passes, written to a file as "X Y Z" (machine
// mm, three decimals), one line each time it changes: a test reads where the
// tip went, between the status reports a client sees.
#pragma once

#include "motion.h"

#include <QFile>

namespace gantry {

class PositionTrace
{
public:
    bool open(const QString &path, const Axes &start, QString *error);
    void pass(const Axes &p);
    void flush();

private:
    QFile file_;
    Axes last_ {};
};

} // namespace gantry
