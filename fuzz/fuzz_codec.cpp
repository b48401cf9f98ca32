// Arbitrary JSON and command-line text into every record through the codec:
// no crash and no exception out; whatever is taken decodes to JSON that
// encodes back to the very same bytes.
#include "codec.h"

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

std::vector<const zem::Record *> records;

void checkRoundTrip(const zem::Record &record, const unsigned char *bytes)
{
    const std::string text = zem::codec::decode(record, bytes).dump();
    const auto again = zem::codec::Json::parse(text, nullptr, false);
    unsigned char back[zem::kMaxRecordSize] = {};
    if (again.is_discarded() || !zem::codec::encode(record, again, back).empty()
        || std::memcmp(back, bytes, record.size) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    for (const zem::Command &c : zem::kCommands)
        for (const zem::Record *r : { c.request, c.response })
            if (r)
                records.push_back(r);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto json = zem::codec::Json::parse(text, nullptr, false);
    for (const zem::Record *record : records) {
        unsigned char bytes[zem::kMaxRecordSize] = {};
        unsigned char before[zem::kMaxRecordSize] = {};
        if (!json.is_discarded()) {
            const std::string error = zem::codec::encode(*record, json, bytes);
            if (!error.empty() && std::memcmp(bytes, before, sizeof bytes) != 0)
                std::abort(); // a refused input must leave the record as it was
            checkRoundTrip(*record, bytes);
        }
        for (const zem::Field &f : record->fields) {
            if (zem::codec::encodeFieldText(f, text, bytes).empty())
                checkRoundTrip(*record, bytes);
        }
    }
    return 0;
}
