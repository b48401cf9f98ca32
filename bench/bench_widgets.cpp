// Prints how long the value widgets of all command pages take to build and
// how long a float curve takes to show. Figures only, no pass or fail.
#include "figure.h"

#include "floatarroutput.h"
#include "floatinput.h"
#include "floatoutput.h"
#include "intarrinput.h"
#include "intarroutput.h"
#include "intinput.h"
#include "intoutput.h"

#include "records.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

template <class Widget> Widget *withValues(Widget *w, const zem::Field &f)
{
    for (const zem::NamedValue &v : f.values)
        w->AddFlag(QString::fromLatin1(v.name), v.value);
    return w;
}

base_io_widget *makeWidget(const zem::Field &f, bool request, QWidget *page)
{
    const QString name = QString::fromLatin1(f.name);
    const QString type = QString::fromLatin1(f.typeText);
    const float fmax = std::numeric_limits<float>::max();
    base_io_widget *w = nullptr;
    switch (zem::widgetKind(f, request)) {
    case zem::WidgetKind::IntInput:
        if (f.type == zem::ElementType::UInt8)
            w = withValues(new IntInput(nullptr, name, type, uint8_t(0), uint8_t(255)), f);
        else if (f.type == zem::ElementType::UInt16)
            w = withValues(new IntInput(nullptr, name, type, uint16_t(0), uint16_t(65535)), f);
        else
            w = withValues(
                new IntInput(nullptr, name, type, uint32_t(0), uint32_t(4294967295u)), f);
        break;
    case zem::WidgetKind::IntOutput:
        w = withValues(new IntOutput(nullptr, name, type), f);
        break;
    case zem::WidgetKind::FloatInput:
        w = new FloatInput(nullptr, name, type, -fmax, fmax);
        break;
    case zem::WidgetKind::FloatOutput:
        w = new FloatOutput(nullptr, name, type);
        break;
    case zem::WidgetKind::IntArrInput:
        w = new IntArrInput(nullptr, name, type, uint8_t(0), uint8_t(255), int(f.count));
        break;
    case zem::WidgetKind::IntArrOutput:
        w = new IntArrOutput(nullptr, name, type);
        break;
    case zem::WidgetKind::FloatArrOutput:
        w = new FloatArrOutput(nullptr, name, type);
        break;
    }
    w->setParent(page);
    return w;
}

// Builds every page's field widgets under one parent; returns the count.
int buildAllPages(QWidget *root)
{
    int built = 0;
    for (const zem::Command &c : zem::kCommands) {
        auto *page = new QWidget(root);
        for (const zem::Record *r : { c.request, c.response }) {
            if (!r)
                continue;
            for (const zem::Field &f : r->fields) {
                makeWidget(f, r == c.request, page);
                ++built;
            }
        }
    }
    return built;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // Other work on the machine only ever adds time, so the best of several
    // rounds is the steadier figure; the mean is printed beside it.
    int widgets = 0;
    {
        const auto start = Clock::now();
        QWidget root;
        widgets = buildAllPages(&root);
        figure("value widgets of all twelve pages, first build", "-", "%.2f ms (%d widgets)",
            microseconds(Clock::now() - start) / 1000.0, widgets);
    }
    const int rounds = 20;
    Clock::duration total {}, best = Clock::duration::max();
    for (int i = 0; i < rounds; ++i) {
        QWidget root;
        const auto start = Clock::now();
        buildAllPages(&root);
        const auto took = Clock::now() - start;
        total += took;
        best = std::min(best, took);
    }
    figure("value widgets of all twelve pages, best / mean of 20", "< 50 ms", "%.2f / %.2f ms",
        microseconds(best) / 1000.0, microseconds(total) / 1000.0 / rounds);

    FloatArrOutput curve(nullptr, "Voltage", "float[25]");
    std::vector<float> a(FRAME_SIZE), b(FRAME_SIZE);
    for (int i = 0; i < FRAME_SIZE; ++i) {
        a[i] = 0.0123456f * float(i) - 0.15f;
        b[i] = 1234.567f / float(i + 1);
    }
    // Two curves in turn, so that every call really changes the text.
    const int batches = 20, calls = 1000;
    total = {};
    best = Clock::duration::max();
    for (int batch = 0; batch < batches; ++batch) {
        const auto start = Clock::now();
        for (int i = 0; i < calls; ++i)
            curve.SetArray((i % 2 ? b : a).data(), FRAME_SIZE);
        const auto took = Clock::now() - start;
        total += took;
        best = std::min(best, took);
    }
    figure("FloatArrOutput::SetArray, 25 floats, best / mean", "< 20 µs", "%.1f / %.1f µs",
        microseconds(best) / calls, microseconds(total) / (batches * calls));
    return 0;
}
