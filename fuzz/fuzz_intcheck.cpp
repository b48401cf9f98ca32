// Arbitrary text through the integer check of the value widgets, for fields of
// each width, single and arrays: no crash, and the colour the user sees after
// the text is set agrees with the check.
#include "validintlineedit.h"

#include <QApplication>
#include <QColor>
#include <QPalette>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

std::vector<std::unique_ptr<ValidIntLineEdit>> edits;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_intcheck";
    static char *argv[] = { name, nullptr };
    static QApplication app(argc, argv);
    edits.emplace_back(new ValidIntLineEdit(nullptr, uint8_t(0), uint8_t(255), 1));
    edits.emplace_back(new ValidIntLineEdit(nullptr, uint8_t(1), uint8_t(200), 8));
    edits.emplace_back(new ValidIntLineEdit(nullptr, uint16_t(100), uint16_t(65000), 0));
    edits.emplace_back(new ValidIntLineEdit(nullptr, uint32_t(0), uint32_t(UINT32_MAX), 4));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const auto &edit : edits) {
        edit->IsValid(text);
        edit->clear(); // a change is needed for the colour to be painted
        edit->setText(text);
        const QColor expected = edit->IsValid(edit->text()) ? QColor(Qt::white) : QColor(Qt::red);
        if (!text.isEmpty() && edit->palette().color(QPalette::Base) != expected)
            std::abort();
    }
    return 0;
}
