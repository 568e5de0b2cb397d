// PluginInterfaceClass against a scripted host: what is asked, called and given back.
#include "host/plugin_interface_class.h"

#include <gtest/gtest.h>

#include "host/result_codes.h"
#include "tests/fakes/scripted_host.h"

namespace {

using Log = std::vector<std::string>;

TEST(PluginInterfaceClass, HostInterfaceIdPutsTheModuleInTheLowHalf) {
    EXPECT_EQ(HostInterfaceId(3, 31), 0x0000001F00000003ull);
    EXPECT_EQ(HostInterfaceId(10012, 100121), (uint64_t{100121} << 32) | 10012u);
}

TEST(PluginInterfaceClass, WithoutHostNothingIsCalled) {
    PluginInterfaceClass access(nullptr, 3, 31);
    EXPECT_FALSE(access.IsValid());
    EXPECT_EQ(access.Call(0x5E23, nullptr, nullptr), velk::kNoHostInterface);
}

TEST(PluginInterfaceClass, RefusedInterfaceIsStillGivenBackOnce) {
    ScriptedHost host;
    {
        PluginInterfaceClass access(&host, 5, 51);
        EXPECT_FALSE(access.IsValid());
        EXPECT_EQ(access.Call(0x2011, nullptr, nullptr), velk::kNoHostInterface);
    }
    EXPECT_EQ(host.Log(), (Log{"query 5/51 refused", "release null"}));
}

TEST(PluginInterfaceClass, CallPassesEverythingAndReturnsTheHostResult) {
    ScriptedHost host;
    int input = 0, output = 0;
    void* seenInput = nullptr;
    void* seenOutput = nullptr;
    host.AddInterface(20001, 200011, [&](uint32_t functionId, void* in, void* out) {
        seenInput = in;
        seenOutput = out;
        return functionId == 0xACB4 ? 0xE0FF1234u : velk::kSuccess;
    });
    {
        PluginInterfaceClass access(&host, 20001, 200011);
        ASSERT_TRUE(access.IsValid());
        EXPECT_EQ(access.Call(0xACB4, &input, &output), 0xE0FF1234u);
        EXPECT_EQ(seenInput, &input);
        EXPECT_EQ(seenOutput, &output);
        EXPECT_EQ(access.Call(0xACB5, &input, nullptr), velk::kSuccess);
        EXPECT_EQ(seenOutput, nullptr);
    }
    EXPECT_EQ(host.Log(), (Log{"query 20001/200011", "call 20001/200011 0xacb4",
                               "call 20001/200011 0xacb5", "release 20001/200011"}));
}

}  // namespace
