#include "commandpage.h"

#include "base_io_widget.h"
#include "connection.h"
#include "floatarroutput.h"
#include "floatinput.h"
#include "floatoutput.h"
#include "intarrinput.h"
#include "intarroutput.h"
#include "intinput.h"
#include "intoutput.h"
#include "iopanel.h"

#include <QByteArrayView>
#include <QLineEdit>

#include <cfloat>
#include <cstring>
#include <vector>

namespace {

template <class W> void addValues(W *w, const zem::Field &f)
{
    for (const zem::NamedValue &v : f.values)
        w->AddFlag(QString::fromLatin1(v.name), v.value);
}

template <class T> T load(const unsigned char *at)
{
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <class T> void store(unsigned char *at, T v)
{
    std::memcpy(at, &v, sizeof v);
}

template <class T> std::vector<T> loadArray(const unsigned char *at, int count)
{
    std::vector<T> v(count);
    std::memcpy(v.data(), at, count * sizeof(T));
    return v;
}

} // namespace

base_io_widget *createFieldWidget(const zem::Field &f, bool request)
{
    const QString name = QString::fromLatin1(f.name);
    const QString type = QString::fromLatin1(f.typeText);
    switch (zem::widgetKind(f, request)) {
    case zem::WidgetKind::IntInput: {
        IntInput *w = nullptr;
        switch (f.type) {
        case zem::ElementType::UInt8:
            w = new IntInput(nullptr, name, type, uint8_t(0), uint8_t(UINT8_MAX));
            break;
        case zem::ElementType::UInt16:
            w = new IntInput(nullptr, name, type, uint16_t(0), uint16_t(UINT16_MAX));
            break;
        default:
            w = new IntInput(nullptr, name, type, uint32_t(0), uint32_t(UINT32_MAX));
            break;
        }
        addValues(w, f);
        return w;
    }
    case zem::WidgetKind::IntOutput: {
        auto *w = new IntOutput(nullptr, name, type);
        addValues(w, f);
        return w;
    }
    case zem::WidgetKind::FloatInput:
        return new FloatInput(nullptr, name, type, -FLT_MAX, FLT_MAX);
    case zem::WidgetKind::FloatOutput:
        return new FloatOutput(nullptr, name, type);
    case zem::WidgetKind::IntArrInput:
        return new IntArrInput(nullptr, name, type, uint8_t(0), uint8_t(UINT8_MAX), f.count);
    case zem::WidgetKind::IntArrOutput:
        return new IntArrOutput(nullptr, name, type);
    case zem::WidgetKind::FloatArrOutput:
        return new FloatArrOutput(nullptr, name, type);
    }
    return nullptr;
}

void populatePage(iopanel &page, const zem::Command &c)
{
    if (c.request)
        for (const zem::Field &f : c.request->fields)
            page.AddRequest(createFieldWidget(f, true));
    if (c.response)
        for (const zem::Field &f : c.response->fields)
            page.AddResponse(createFieldWidget(f, false));
    if (c.getter)
        page.ShowGetter();
}

void packField(const zem::Field &f, base_io_widget &w, unsigned char *record)
{
    unsigned char *at = record + f.offset;
    if (f.isArray) {
        // Only byte arrays are ever requests.
        if (auto *in = qobject_cast<IntArrInput *>(&w))
            in->GetArray(at);
        return;
    }
    const QString text = w.GetEdit()->text();
    switch (f.type) {
    case zem::ElementType::UInt8:
        store(at, uint8_t(text.toInt(nullptr, 10)));
        break;
    case zem::ElementType::UInt16:
        store(at, uint16_t(text.toInt(nullptr, 10)));
        break;
    case zem::ElementType::Int16:
        store(at, int16_t(text.toInt(nullptr, 10)));
        break;
    case zem::ElementType::UInt32:
        store(at, uint32_t(text.toUInt(nullptr, 10)));
        break;
    case zem::ElementType::Int32:
        store(at, int32_t(text.toInt(nullptr, 10)));
        break;
    case zem::ElementType::Float:
        if (auto *in = qobject_cast<FloatInput *>(&w))
            store(at, in->GetFloat());
        break;
    }
}

void unpackField(const zem::Field &f, const unsigned char *record, base_io_widget &w)
{
    const unsigned char *at = record + f.offset;
    const int n = f.count;
    if (f.isArray) {
        if (auto *out = qobject_cast<FloatArrOutput *>(&w)) {
            const auto v = loadArray<float>(at, n);
            out->SetArray(v.data(), n);
        } else if (auto *ints = qobject_cast<IntArrOutput *>(&w)) {
            if (f.type == zem::ElementType::UInt16) {
                const auto v = loadArray<uint16_t>(at, n);
                ints->SetArray(v.data(), n);
            } else {
                ints->SetArray(at, n);
            }
        }
        return;
    }
    switch (f.type) {
    case zem::ElementType::UInt8:
        w.SetValue(QString::number(load<uint8_t>(at)));
        break;
    case zem::ElementType::UInt16:
        w.SetValue(QString::number(load<uint16_t>(at)));
        break;
    case zem::ElementType::Int16:
        w.SetValue(QString::number(load<int16_t>(at)));
        break;
    case zem::ElementType::UInt32:
        w.SetValue(QString::number(load<uint32_t>(at)));
        break;
    case zem::ElementType::Int32:
        w.SetValue(QString::number(load<int32_t>(at)));
        break;
    case zem::ElementType::Float:
        if (auto *out = qobject_cast<FloatOutput *>(&w))
            out->SetFloat(load<float>(at));
        break;
    }
}

void packRequest(const zem::Command &c, iopanel &page, unsigned char *request)
{
    if (c.request)
        for (std::size_t i = 0; i < c.request->fields.size(); ++i)
            packField(c.request->fields[i], *page.GetRequest(int(i)), request);
}

std::int32_t runCommand(
    const zem::Command &c, iopanel &page, zem::Connection &device, unsigned char *responseOut)
{
    alignas(8) unsigned char request[zem::kMaxRecordSize] = {};
    packRequest(c, page, request);
    return runCommandWith(c, request, page, device, responseOut);
}

std::int32_t runCommandWith(const zem::Command &c, const unsigned char *bytes, iopanel &page,
    zem::Connection &device, unsigned char *responseOut)
{
    // Copied into an aligned record: the library reads it as its struct.
    alignas(8) unsigned char request[zem::kMaxRecordSize] = {};
    alignas(8) unsigned char response[zem::kMaxRecordSize] = {};
    if (c.request && bytes)
        std::memcpy(request, bytes, c.request->size);

    const std::int32_t result
        = device.call(c, c.request ? request : nullptr, c.response ? response : nullptr);
    showResponse(c, result, response, page);
    if (c.response && responseOut)
        std::memcpy(responseOut, response, c.response->size);
    return result;
}

void showResponse(
    const zem::Command &c, std::int32_t result, const unsigned char *response, iopanel &page)
{
    if (c.response && (result == ZEM_RESULT_OK || result == ZEM_RESULT_VALUE_ERROR))
        for (std::size_t i = 0; i < c.response->fields.size(); ++i)
            unpackField(c.response->fields[i], response, *page.GetResponse(int(i)));
}

void copyResponsesToRequests(const iopanel &getter, iopanel &setter)
{
    const int n = std::min(setter.GetRequestCount(), getter.GetResponseCount());
    for (int i = 0; i < n; ++i)
        setter.GetRequest(i)->SetValue(getter.GetResponse(i)->GetValue());
}

const zem::Command *findCommand(const char *name)
{
    return zem::findCommand(name);
}
