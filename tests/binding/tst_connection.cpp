// Two threads calling through one connection, as the window's thread and the
// device thread do: the library and the recording sink each see one call at
// a time (under ThreadSanitizer, any overlap is a reported race in the
// double's and the sink's unguarded lists), and every call is recorded with
// its own result.
#include "connection.h"
#include "recording.h"
#include "zemdouble.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class ListSink : public zem::calls::CallSink
{
public:
    void record(const zem::calls::Call &call) override { results.push_back(call.result); }
    std::vector<std::int32_t> results; // unguarded on purpose
};

TEST(Connection, CallsFromTwoThreadsGoThroughOneAtATime)
{
    zemdouble::reset();
    zemdouble::setResult("zem_get_status", -3);
    ListSink sink; // outlives the connection, whose close it records too
    zem::Connection device;
    device.setSink(&sink);
    ASSERT_NE(device.open("virtual://x"), -1);
    constexpr int kCalls = 500;
    const auto caller = [&](const char *command) {
        for (int i = 0; i < kCalls; ++i) {
            alignas(8) unsigned char response[zem::kMaxRecordSize] = {};
            device.call(command, nullptr, response);
        }
    };
    std::thread other(caller, "get_measurement_settings");
    caller("get_status");
    other.join();
    EXPECT_EQ(zemdouble::count("zem_get_status"), std::size_t(kCalls));
    EXPECT_EQ(zemdouble::count("zem_get_measurement_settings"), std::size_t(kCalls));
    ASSERT_EQ(sink.results.size(), std::size_t(2 * kCalls + 1));
    int failed = 0;
    for (std::int32_t r : sink.results)
        failed += r == -3;
    EXPECT_EQ(failed, kCalls);
    EXPECT_TRUE(device.isOpen());
}

// The double offers our library's optional call (to dlsym) or acts as a vendor's.
TEST(Connection, VirtualProbeOnlyWhereTheLibraryOffersIt)
{
    zemdouble::reset();
    zem::Connection device;
    ASSERT_NE(device.open("virtual://x"), -1);
    EXPECT_EQ(device.placeVirtualProbe(2), std::optional<std::int32_t>(0));
    zemdouble::offerVirtualProbe(false);
    EXPECT_EQ(device.placeVirtualProbe(3), std::nullopt);
    EXPECT_EQ(zemdouble::callLines(),
        (std::vector<std::string> { "zem_open_device(1)", "zem_virtual_probe_pin(1, 2)" }));
}

} // namespace
