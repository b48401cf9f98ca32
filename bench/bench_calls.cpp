// Figures of call recording: what recording adds to a call and to a Send, the
// memory a recorded call takes at the ring's capacity, and filtering a full
// Calls table. Against the recording double, which answers at once. Prints
// figures; asserts nothing.
#include "devicesession.h"
#include "dockcontext.h"
#include "figure.h"

#include "callring.h"
#include "callsdock.h"
#include "callsmodel.h"
#include "connection.h"
#include "iopanel.h"
#include "recording.h"
#include "records.h"
#include "shownwindow.h"
#include "zemdouble.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double nanosecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

const zem::Command &getMeasurement()
{
    return zem::kCommands[0];
}

// Best of three runs of n calls of get_measurement through the binding, ns per call.
double callCost(zem::calls::CallSink *sink, int n)
{
    zem::calls::setSink(sink);
    zem::Connection device;
    device.open("double://");
    get_measurement_request rq {};
    get_measurement_response rs {};
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < n; ++i) {
            rq.FrameNumber = std::uint16_t(i & 3);
            device.call(getMeasurement(), &rq, &rs);
        }
        best = std::min(best, nanosecondsSince(start) / n);
    }
    zem::calls::setSink(nullptr);
    return best;
}

// Best of three batches, µs per get_measurement Send through the window.
double sendCost(MainWindow &window, int clicks)
{
    iopanel *page = window.page(QStringLiteral("get_measurement"));
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        QCoreApplication::processEvents();
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < clicks; ++i)
            page->sendButton->click();
        best = std::min(best, nanosecondsSince(start) / 1000.0 / clicks);
    }
    QCoreApplication::processEvents();
    return best;
}

std::size_t heapInUse()
{
    return mallinfo2().uordblks;
}

// A mix of commands as a session records them, one in eight failing.
zem::calls::Call sessionCall(int i)
{
    static const std::uint8_t commands[] = { 0, 3, 7, 0, 10, 3, 0, 4 };
    zem::calls::Call c;
    c.operation = zem::calls::Operation::Command;
    c.command = commands[i % 8];
    c.wallMs = 1796660401000 + i;
    c.durationNs = 1000 + i % 997;
    c.result = i % 8 == 5 ? -5 : 0;
    const zem::Command &cmd = zem::kCommands[c.command];
    static std::uint8_t bytes[zem::kMaxRecordSize] = {};
    c.setBytes(cmd.request ? bytes : nullptr, cmd.request ? cmd.request->size : 0,
        cmd.response ? bytes : nullptr, cmd.response ? cmd.response->size : 0);
    return c;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    zemdouble::reset();

    // The recorder itself: the binding's call with and without a ring attached.
    const int n = 200000;
    {
        // Alternated, so that a load on the machine meets both alike.
        zem::calls::CallRing ring;
        double without = 1e300, with = 1e300;
        for (int round = 0; round < 4; ++round) {
            without = std::min(without, callCost(nullptr, n / 4));
            with = std::min(with, callCost(&ring, n / 4));
        }
        figure("recording one get_measurement call into the ring (202 bytes), added", "< 2 µs",
            "%.0f ns (%.0f -> %.0f ns per call)", with - without, without, with);
    }

    // Memory: a full ring of get_measurement calls, the largest records.
    {
        const std::size_t before = heapInUse();
        auto ring = std::make_unique<zem::calls::CallRing>();
        zem::calls::Call c = sessionCall(0);
        for (std::size_t i = 0; i < 2 * ring->capacity(); ++i)
            ring->append(c);
        const double perCall = double(heapInUse() - before) / double(ring->capacity());
        figure("memory per recorded call at capacity (100,000 get_measurement calls)", "< 1 KB",
            "%.0f bytes", perCall);
    }

    auto window = shownWindow();
    CallsDock *dock = window->calls();
    const int clicks = 400;
    {
        sendCost(*window, 200); // warm-up
        double without = 1e300, with = 1e300;
        for (int round = 0; round < 4; ++round) {
            dock->detach();
            without = std::min(without, sendCost(*window, clicks));
            dock->attach();
            with = std::min(with, sendCost(*window, clicks));
        }
        figure("get_measurement Send without / with the Calls dock recording", "-",
            "%.1f / %.1f µs (+%.1f µs)", without, with, with - without);
    }

    // A dock of its own at capacity: memory of ring, model, filter and view
    // per call, and the cost of an append.
    {
        const std::size_t before = heapInUse();
        DeviceSession session;
        DockContext context(session);
        auto full = std::make_unique<CallsDock>(context);
        full->show();
        QCoreApplication::processEvents();
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < int(zem::calls::kDefaultRingCapacity); ++i)
            full->liveModel()->record(sessionCall(i));
        full->liveModel()->flush(); // the views told of the rows, as a frame does
        const double fillUs = nanosecondsSince(start) / 1000.0 / zem::calls::kDefaultRingCapacity;
        QCoreApplication::processEvents();
        figure("a Calls dock of 100,000 calls: memory per call (ring, model, filter, view); "
               "append",
            "< 1 KB", "%.0f bytes; %.1f µs",
            double(heapInUse() - before) / zem::calls::kDefaultRingCapacity, fillUs);
    }

    // The window's dock full: each Send appends, and every thousandth drops
    // the oldest thousand rows.
    {
        for (int i = 0; i < int(zem::calls::kDefaultRingCapacity); ++i)
            dock->liveModel()->record(sessionCall(i));
        dock->liveModel()->flush();
        QCoreApplication::processEvents();
        figure("get_measurement Send with the dock full (oldest 1 % dropped when full)", "-",
            "%.1f µs", sendCost(*window, 1000));
    }

    // Filtering the full table.
    {
        auto *edit = dock->findChild<QLineEdit *>(QStringLiteral("callsFilter"));
        auto *errors = dock->findChild<QCheckBox *>(QStringLiteral("callsErrorsOnly"));
        QCoreApplication::processEvents();
        Clock::time_point start = Clock::now();
        edit->setText(QStringLiteral("status"));
        const double byName = nanosecondsSince(start) / 1e6;
        start = Clock::now();
        errors->setChecked(true);
        const double failed = nanosecondsSince(start) / 1e6;
        start = Clock::now();
        edit->clear();
        errors->setChecked(false);
        const double cleared = nanosecondsSince(start) / 1e6;
        figure("filtering 100,000 recorded calls: by command / errors only / cleared", "< 50 ms",
            "%.1f / %.1f / %.1f ms", byName, failed, cleared);
    }
    return 0;
}
