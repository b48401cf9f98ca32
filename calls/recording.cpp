#include "recording.h"

namespace zem::calls {

namespace {
// The window makes its calls from the GUI thread only; the origin is per
// thread so that a console program's worker cannot confuse it.
CallSink *theSink = nullptr;
thread_local std::optional<Origin> origin;
} // namespace

void setSink(CallSink *sink)
{
    theSink = sink;
}

CallSink *sink()
{
    return theSink;
}

std::optional<Origin> scopedOrigin()
{
    return origin;
}

OriginScope::OriginScope(Origin o)
    : previous(origin)
{
    origin = o;
}

OriginScope::~OriginScope()
{
    origin = previous;
}

} // namespace zem::calls
