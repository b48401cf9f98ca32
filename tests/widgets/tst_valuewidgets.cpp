#include "floatarroutput.h"
#include "floatinput.h"
#include "floatoutput.h"
#include "intarrinput.h"
#include "intarroutput.h"
#include "intinput.h"
#include "intoutput.h"
#include "validintlineedit.h"

#include "records.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTest>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

// One side of one command page, collected at compile time so that the test
// needs the record description only, not the library behind it.
struct PageRecord
{
    const char *command = nullptr;
    const zem::Record *record = nullptr;
    bool request = false;
};

constexpr auto kPageRecords = [] {
    std::array<PageRecord, 2 * zem::kCommandCount> pages {};
    std::size_t n = 0;
    for (const zem::Command &c : zem::kCommands) {
        if (c.request)
            pages[n++] = { c.name, c.request, true };
        if (c.response)
            pages[n++] = { c.name, c.response, false };
    }
    return pages;
}();

// The field types an input widget holds without loss: unsigned scalars,
// floats and byte arrays.
constexpr bool hasInput(const zem::Field &f)
{
    if (f.type == zem::ElementType::UInt8)
        return true;
    return !f.isArray
        && (f.type == zem::ElementType::UInt16 || f.type == zem::ElementType::UInt32
            || f.type == zem::ElementType::Float);
}

constexpr bool everyRequestFieldHasInput()
{
    for (const PageRecord &p : kPageRecords)
        if (p.record && p.request)
            for (const zem::Field &f : p.record->fields)
                if (!hasInput(f))
                    return false;
    return true;
}
static_assert(everyRequestFieldHasInput(), "a request field has no input widget that can hold it");

constexpr float kFloatMax = std::numeric_limits<float>::max();

// Builds a field's widget as the command table does.
std::unique_ptr<base_io_widget> make(const zem::Field &f, bool request)
{
    const QString name = f.name, type = f.typeText;
    switch (zem::widgetKind(f, request)) {
    case zem::WidgetKind::FloatInput:
        return std::make_unique<FloatInput>(nullptr, name, type, -kFloatMax, kFloatMax);
    case zem::WidgetKind::IntArrInput:
        return std::make_unique<IntArrInput>(
            nullptr, name, type, uint8_t(0), uint8_t(255), int(f.count));
    case zem::WidgetKind::IntInput:
        if (f.type == zem::ElementType::UInt8)
            return std::make_unique<IntInput>(nullptr, name, type, uint8_t(0), uint8_t(255));
        if (f.type == zem::ElementType::UInt16)
            return std::make_unique<IntInput>(nullptr, name, type, uint16_t(0), uint16_t(65535));
        return std::make_unique<IntInput>(nullptr, name, type, uint32_t(0), uint32_t(4294967295u));
    case zem::WidgetKind::FloatOutput:
        return std::make_unique<FloatOutput>(nullptr, name, type);
    case zem::WidgetKind::IntArrOutput:
        return std::make_unique<IntArrOutput>(nullptr, name, type);
    case zem::WidgetKind::FloatArrOutput:
        return std::make_unique<FloatArrOutput>(nullptr, name, type);
    default:
        return std::make_unique<IntOutput>(nullptr, name, type);
    }
}

QColor baseColour(const QLineEdit *edit)
{
    return edit->palette().color(QPalette::Active, QPalette::Base);
}

} // namespace

Q_DECLARE_METATYPE(const zem::Field *)

class tst_ValueWidgets : public QObject
{
    Q_OBJECT

private slots:
    void validity_data();
    void validity();
    void getArray_data();
    void getArray();
    void shownText_data();
    void shownText();
    void floatTyping_data();
    void floatTyping();
    void roundTrip_data();
    void roundTrip();
};

void tst_ValueWidgets::validity_data()
{
    QTest::addColumn<uint>("max");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    const uint u8 = 255, u16 = 65535, u32 = 4294967295u;
    QTest::newRow("uint8 0") << u8 << 0 << "0" << true;
    QTest::newRow("uint8 max") << u8 << 0 << "255" << true;
    QTest::newRow("uint8 above max") << u8 << 0 << "256" << false;
    QTest::newRow("uint8 negative") << u8 << 0 << "-1" << false;
    QTest::newRow("uint8 empty") << u8 << 0 << "" << false;
    QTest::newRow("uint8 two numbers") << u8 << 0 << "1 2" << false;
    QTest::newRow("uint8 hex") << u8 << 0 << "0x10" << false;
    QTest::newRow("uint8 letters") << u8 << 0 << "12a" << false;
    QTest::newRow("uint8[1] two numbers") << u8 << 1 << "1 2" << false;
    QTest::newRow("uint16 max") << u16 << 0 << "65535" << true;
    QTest::newRow("uint16 above max") << u16 << 0 << "65536" << false;
    QTest::newRow("uint32 max") << u32 << 0 << "4294967295" << true;
    QTest::newRow("uint32 above max") << u32 << 0 << "4294967296" << false;
    QTest::newRow("uint32 beyond 64 bits") << u32 << 0 << "18446744073709551616" << false;
    QTest::newRow("uint8[4] four") << u8 << 4 << "1 2 3 255" << true;
    QTest::newRow("uint8[4] two") << u8 << 4 << "0 255" << true;
    QTest::newRow("uint8[4] five") << u8 << 4 << "1 2 3 4 5" << false;
    QTest::newRow("uint8[4] doubled space") << u8 << 4 << "1  2" << false;
    QTest::newRow("uint8[4] trailing space") << u8 << 4 << "1 2 " << false;
    QTest::newRow("uint8[4] leading space") << u8 << 4 << " 1 2" << false;
    QTest::newRow("uint8[4] element above max") << u8 << 4 << "1 256" << false;
    QTest::newRow("uint8[4] empty") << u8 << 4 << "" << false;
}

void tst_ValueWidgets::validity()
{
    QFETCH(uint, max);
    QFETCH(int, count);
    QFETCH(QString, text);
    QFETCH(bool, valid);

    // One edit is typed into, the other set by the program; both keep the
    // text as given and take the same colour.
    std::unique_ptr<ValidIntLineEdit> typed, set;
    for (auto *edit : { &typed, &set }) {
        if (max == 255)
            edit->reset(new ValidIntLineEdit(nullptr, uint8_t(0), uint8_t(max), count));
        else if (max == 65535)
            edit->reset(new ValidIntLineEdit(nullptr, uint16_t(0), uint16_t(max), count));
        else
            edit->reset(new ValidIntLineEdit(nullptr, uint32_t(0), uint32_t(max), count));
    }
    QTest::keyClicks(typed.get(), text + "9");
    QTest::keyClick(typed.get(), Qt::Key_Backspace);
    set->setText("9");
    set->setText(text);

    const QColor expected = valid ? QColor(Qt::white) : QColor(Qt::red);
    for (const auto *edit : { typed.get(), set.get() }) {
        QCOMPARE(edit->text(), text);
        QCOMPARE(baseColour(edit), expected);
    }
}

void tst_ValueWidgets::getArray_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");

    // The buffer starts as 0xAA everywhere, one byte beyond the array included.
    QTest::newRow("full") << "1 2 3 4" << QByteArray("\x01\x02\x03\x04\xAA", 5);
    QTest::newRow("short keeps rest") << "7 9" << QByteArray("\x07\x09\xAA\xAA\xAA", 5);
    QTest::newRow("extra ignored") << "1 2 3 4 5" << QByteArray("\x01\x02\x03\x04\xAA", 5);
    QTest::newRow("empty") << "" << QByteArray("\x00\xAA\xAA\xAA\xAA", 5);
    QTest::newRow("doubled space") << "1  2" << QByteArray("\x01\x00\x02\xAA\xAA", 5);
    QTest::newRow("leading space") << " 5" << QByteArray("\x00\x05\xAA\xAA\xAA", 5);
    QTest::newRow("trailing space") << "5 " << QByteArray("\x05\x00\xAA\xAA\xAA", 5);
    QTest::newRow("cut to 8 bits") << "300 -1 256" << QByteArray("\x2C\xFF\x00\xAA\xAA", 5);
    QTest::newRow("not a number") << "x 5" << QByteArray("\x00\x05\xAA\xAA\xAA", 5);
    QTest::newRow("only spaces") << "        " << QByteArray("\x00\x00\x00\x00\xAA", 5);
}

void tst_ValueWidgets::getArray()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);

    IntArrInput input(nullptr, "Reserved0", "uint8_t[4]", uint8_t(0), uint8_t(255), 4);
    input.SetValue(text);
    QByteArray buffer(5, char(0xAA));
    input.GetArray(reinterpret_cast<uint8_t *>(buffer.data()));
    QCOMPARE(buffer.toHex(' '), expected.toHex(' '));
}

void tst_ValueWidgets::shownText_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QList<double>>("elements");
    QTest::addColumn<QString>("expected");

    QList<double> name(16, 0.0);
    name[0] = 'A';
    name[1] = 'B';
    name[2] = 'C';
    QTest::newRow("name bytes") << "uint8_t" << name << "65 66 67 0 0 0 0 0 0 0 0 0 0 0 0 0";
    QTest::newRow("one byte") << "uint8_t" << QList<double> { 255 } << "255";
    QTest::newRow("16-bit codes") << "uint16_t" << QList<double> { 0, 65535, 1000 }
                                  << "0 65535 1000";
    QTest::newRow("1.5") << "float" << QList<double> { 1.5 } << "1.5";
    QTest::newRow("10000") << "float" << QList<double> { 10000 } << "10000";
    QTest::newRow("1234567") << "float" << QList<double> { 1234567 } << "1.23457e+06";
    QTest::newRow("0.1") << "float" << QList<double> { 0.1 } << "0.1";
    QTest::newRow("1e8") << "float" << QList<double> { 1e8 } << "1e+08";
    QTest::newRow("largest") << "float" << QList<double> { double(kFloatMax) } << "3.40282e+38";
    QTest::newRow("three") << "float" << QList<double> { -1.5, 0, 1.5e-7 } << "-1.5 0 1.5e-07";
    QList<double> curve;
    for (int i = 0; i < 25; ++i)
        curve.append(i * 0.25 - 3.0);
    QTest::newRow("curve of 25") << "float" << curve
                                 << "-3 -2.75 -2.5 -2.25 -2 -1.75 -1.5 -1.25 -1 -0.75 -0.5 -0.25 "
                                    "0 0.25 0.5 0.75 1 1.25 1.5 1.75 2 2.25 2.5 2.75 3";
}

void tst_ValueWidgets::shownText()
{
    QFETCH(QString, type);
    QFETCH(QList<double>, elements);
    QFETCH(QString, expected);

    const int n = int(elements.size());
    if (type == "float") {
        const std::vector<float> values(elements.begin(), elements.end());
        FloatArrOutput array(nullptr, "Voltage", "float[25]");
        array.SetArray(values.data(), n);
        QCOMPARE(array.GetValue(), expected);
        if (n == 1) {
            FloatOutput scalar(nullptr, "SamplingRate", "float");
            scalar.SetFloat(values[0]);
            QCOMPARE(scalar.GetValue(), expected);
        }
        return;
    }
    IntArrOutput output(nullptr, "Manufacturer", "uint8_t[16]");
    if (type == "uint16_t")
        output.SetArray(std::vector<uint16_t>(elements.begin(), elements.end()).data(), n);
    else
        output.SetArray(std::vector<uint8_t>(elements.begin(), elements.end()).data(), n);
    QCOMPARE(output.GetValue(), expected);
}

void tst_ValueWidgets::floatTyping_data()
{
    QTest::addColumn<QLocale>("systemLocale");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<float>("read");

    const auto row = [](const char *name, const QLocale &locale, const char *keys,
                         const char *shown, float read) {
        QTest::newRow(name) << locale << QString(keys) << QString(shown) << read;
    };
    const QLocale c = QLocale::c();
    row("decimal", c, "1.5", "1.5", 1.5f);
    row("exponent", c, "1.23457e+06", "1.23457e+06", 1234570.f);
    row("capital exponent", c, "-2E-3", "-2E-3", -0.002f);
    row("letters refused", c, "a1x2", "12", 12.f);
    row("comma refused", c, "1,5", "15", 15.f);
    row("eleventh decimal refused", c, "0.123456789012", "0.1234567890", 0.123456789f);
    row("empty reads 0", c, "", "", 0.f);
    row("lone sign reads 0", c, "-", "-", 0.f);
    // A system that writes decimal commas must not stop the user from typing
    // or pasting what the outputs show.
    row("decimal comma system", QLocale(QLocale::German), "1.25e+02", "1.25e+02", 125.f);
}

void tst_ValueWidgets::floatTyping()
{
    QFETCH(QLocale, systemLocale);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(float, read);

    const QLocale saved;
    QLocale::setDefault(systemLocale);
    FloatInput input(nullptr, "SamplingRate", "float", -kFloatMax, kFloatMax);
    QLocale::setDefault(saved);
    QTest::keyClicks(input.GetEdit(), keys);
    QCOMPARE(input.GetValue(), shown);
    QCOMPARE(input.GetFloat(), read);
}

void tst_ValueWidgets::roundTrip_data()
{
    QTest::addColumn<const zem::Field *>("field");
    QTest::addColumn<QList<double>>("values");

    const QList<double> floats = { 0.0, 1.5, 1234567.0, -0.000123456, 3.14159265358979,
        -double(kFloatMax), double(kFloatMax), double(std::numeric_limits<float>::min()),
        double(std::numeric_limits<float>::denorm_min()) };
    for (const PageRecord &page : kPageRecords) {
        for (const zem::Field &f : page.record ? page.record->fields : zem::Span<zem::Field>()) {
            if (!hasInput(f))
                continue;
            const QString row
                = QString("%1 %2 %3=").arg(page.command, page.request ? "in" : "out", f.name);
            if (f.type == zem::ElementType::Float) {
                for (double v : floats)
                    QTest::newRow(qPrintable(row + QString::number(v)))
                        << &f << QList<double> { v };
                continue;
            }
            const double top = f.type == zem::ElementType::UInt8 ? 255
                : f.type == zem::ElementType::UInt16             ? 65535
                                                                 : 4294967295.0;
            QList<double> mixed;
            for (int i = 0; i < f.count; ++i)
                mixed.append(std::fmod(i * 37.0 + 11, top + 1));
            QTest::newRow(qPrintable(row + "0")) << &f << QList<double>(f.count, 0.0);
            QTest::newRow(qPrintable(row + "max")) << &f << QList<double>(f.count, top);
            QTest::newRow(qPrintable(row + "mixed")) << &f << mixed;
        }
    }
}

void tst_ValueWidgets::roundTrip()
{
    QFETCH(const zem::Field *, field);
    QFETCH(QList<double>, values);

    const std::unique_ptr<base_io_widget> output = make(*field, false), input = make(*field, true);
    const QString caption = QString("%1 type: %2").arg(field->name, field->typeText);
    QCOMPARE(output->GetLabel()->text(), caption);
    QCOMPARE(input->GetLabel()->text(), caption);
    // A fresh page does not paint its empty inputs red.
    QVERIFY(!input->GetEdit()->testAttribute(Qt::WA_SetPalette));

    // Write the value as a handler does; the user cannot change it.
    if (auto *out = dynamic_cast<FloatOutput *>(output.get()))
        out->SetFloat(float(values[0]));
    else if (auto *out = dynamic_cast<IntArrOutput *>(output.get()))
        out->SetArray(
            std::vector<uint8_t>(values.begin(), values.end()).data(), int(values.size()));
    else
        output->SetValue(QString::number(quint64(values[0])));
    const QString shown = output->GetValue();
    QTest::keyClicks(output->GetEdit(), "9");
    QCOMPARE(output->GetValue(), shown);

    // Typed by hand every keystroke is kept; copied, the text is accepted.
    QTest::keyClicks(input->GetEdit(), shown);
    QCOMPARE(input->GetValue(), shown);
    input->SetValue(QString());
    input->SetValue(shown);

    if (auto *in = dynamic_cast<FloatInput *>(input.get())) {
        QVERIFY(in->GetEdit()->hasAcceptableInput());
        const double read = in->GetFloat();
        QVERIFY2(std::abs(read - values[0]) <= std::abs(values[0]) * 5e-6,
            qPrintable(QString("%1 read as %2").arg(shown).arg(read)));
        FloatOutput again(nullptr, "", "");
        again.SetFloat(float(read));
        QCOMPARE(again.GetValue(), shown);
    } else if (auto *in = dynamic_cast<IntArrInput *>(input.get())) {
        QCOMPARE(baseColour(in->GetEdit()), QColor(Qt::white));
        std::vector<uint8_t> bytes(values.size(), 0x5A);
        in->GetArray(bytes.data());
        QCOMPARE(QList<double>(bytes.begin(), bytes.end()), values);
    } else {
        QCOMPARE(baseColour(input->GetEdit()), QColor(Qt::white));
        QCOMPARE(input->GetValue().toDouble(), values[0]);
    }
}

QTEST_MAIN(tst_ValueWidgets)
#include "tst_valuewidgets.moc"
