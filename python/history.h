// The test history from Python: zem.History reads it, Signature.test()
// records runs in it as zemctl test does.
#pragma once

#include "extension.h"

#include "location.h"
#include "run.h"

#include <memory>
#include <string>

namespace zem::history {
class Store;
}

namespace zem::python {

// A history opened for recording, before a run, so that a URL or file at
// fault is said before the board is probed.
struct HistoryWriter
{
    history::Location where;
    std::shared_ptr<history::Store> store;
};

// ValueError for a URL that names no history or a history that cannot be opened.
HistoryWriter openHistoryForWriting(const std::string &url);
// Records the run and returns its UUID; a server that cannot be reached
// spools it with a warning, anything else that keeps it out raises RuntimeError.
std::string recordRun(HistoryWriter &writer, const history::Run &run);

void addHistory(py::module_ &m);

} // namespace zem::python
