// Where recorded calls go, and who the caller is. The binding records every
// library call into the attached sink; without one it records nothing and
// costs nothing beyond a pointer test.
#pragma once

#include "call.h"

#include <optional>

namespace zem::calls {

class CallSink
{
public:
    virtual ~CallSink() = default;
    virtual void record(const Call &call) = 0;
};

// The sink every call is recorded into, or null.
void setSink(CallSink *sink);
CallSink *sink();

// The origin a guard set on this thread, if any.
std::optional<Origin> scopedOrigin();

// Sets the origin of the calls made while it lives, and restores the previous
// one after, so guards nest.
class OriginScope
{
public:
    explicit OriginScope(Origin origin);
    ~OriginScope();
    OriginScope(const OriginScope &) = delete;
    OriginScope &operator=(const OriginScope &) = delete;

private:
    std::optional<Origin> previous;
};

} // namespace zem::calls
