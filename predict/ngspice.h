// The simulator as ngspice's shared library, called in-process. The library
// keeps global state, so each loaded copy runs one simulation at a time;
// several copies (each in a link namespace of its own) run side by side.
#pragma once

#include "simulator.h"

#include <atomic>
#include <vector>

namespace predict {

class NgspiceEngine;

inline constexpr const char *kNgspiceLibrary = "libngspice.so.0";

class NgspiceSimulator : public Simulator
{
public:
    // Uses up to `copies` copies of the library (at least one when it can be
    // loaded at all); a missing library is reported by each simulation. The
    // copies stay loaded for the process, shared by every simulator.
    explicit NgspiceSimulator(int copies = 1, const char *library = kNgspiceLibrary);
    ~NgspiceSimulator() override;

    Simulation simulate(const Circuit &circuit, const zem::Stimulus &stimulus) override;
    // How many simulations can run at once: the copies loaded.
    int copies() const { return int(m_engines.size()); }
    // Empty when the library loaded, else why not.
    QString loadError() const { return m_loadError; }

private:
    std::vector<NgspiceEngine *> m_engines;
    std::atomic<std::size_t> m_next { 0 };
    QString m_loadError;
};

// The circuit as ngspice reads it, and the time its samples start at; for
// the tests and the messages.
struct SpiceDeck
{
    QStringList lines;
    double start = 0; // s: a whole number of periods, once transients have died
    double stop = 0;
    double step = 0;
};
SpiceDeck spiceDeck(const Circuit &circuit, const zem::Stimulus &stimulus);

} // namespace predict
