// Any text as a history location: a refusal says why, a location parses
// back from its own text unchanged, and no text ever carries a password.
#include "location.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const std::optional<zem::history::Location> where = zem::history::parseLocation(text, &error);
    if (!where) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    if (!error.isEmpty())
        std::abort();
    const QString canonical = where->text();
    const std::optional<zem::history::Location> again
        = zem::history::parseLocation(canonical, &error);
    if (!again || *again != *where || again->text() != canonical)
        std::abort();
    if (where->engine == zem::history::Location::Engine::Postgres) {
        for (const auto &option : where->options) {
            if (option.first.contains(QLatin1String("password")))
                std::abort();
        }
    }
    return 0;
}
