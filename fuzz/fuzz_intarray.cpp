// Arbitrary text through a byte-array field: GetArray writes at most count
// bytes, leaves the elements beyond the numbers given as they were, and sends
// exactly the numbers that the field shows as valid.
#include "intarrinput.h"
#include "validintlineedit.h"

#include <QApplication>
#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr std::uint8_t kUntouched = 0xA5;

struct Field
{
    std::unique_ptr<IntArrInput> input;
    int count;
};
std::vector<Field> fields;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_intarray";
    static char *argv[] = { name, nullptr };
    static QApplication app(argc, argv);
    const auto add = [](uint8_t min, uint8_t max, int count) {
        fields.push_back({ std::make_unique<IntArrInput>(nullptr, "Field",
                               QString("uint8_t[%1]").arg(count), min, max, count),
            count });
    };
    add(0, 255, 4);
    add(0, 255, 1);
    add(10, 20, 16);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const Field &field : fields) {
        field.input->SetValue(text);
        const QString shown = field.input->GetValue();
        const QStringList parts = shown.split(QLatin1Char(' '));

        // Exactly count bytes on the heap, so a write past them is caught.
        std::vector<std::uint8_t> buffer(std::size_t(field.count), kUntouched);
        field.input->GetArray(buffer.data());
        for (int i = int(parts.size()); i < field.count; ++i)
            if (buffer[std::size_t(i)] != kUntouched)
                std::abort();

        const auto *edit = static_cast<const ValidIntLineEdit *>(field.input->GetEdit());
        if (edit->IsValid(shown)) {
            for (int i = 0; i < field.count && i < int(parts.size()); ++i)
                if (buffer[std::size_t(i)] != parts[i].toULongLong())
                    std::abort();
        }
    }
    return 0;
}
