// run() allocates nothing: this program counts allocations (tests/support/alloc_counter.cpp replaces
// the global allocation functions) while the plugins run with every kind of message and control change.
#include <gtest/gtest.h>

#include <lv2/atom/atom.h>

#include <string>

#include "lv2/ports.h"
#include "lv2_test_host.h"
#include "support/alloc_counter.h"

namespace {

using namespace waveshapers_lv2;
using lv2test::TestPlugin;
using lv2test::UridMap;

TEST(Lv2Allocation, RunAllocatesNothing) {
    UridMap map;
    // Every URI the test will send is mapped before counting: the test's own map allocates.
    const LV2_URID integer = map.map(LV2_ATOM__Int);
    for (const char* uri : {kCurveMonoUri, kCurveStereoUri, kFormulaMonoUri, kFormulaStereoUri}) {
        SCOPED_TRACE(uri);
        TestPlugin plugin(uri, map);
        ASSERT_TRUE(plugin.ok());
        const std::string longest(4096, '1');
        const std::string tooLong(5000, 'x');
        const std::string formulas[] = {"tanh(x)*4", longest, "x\xC3\xA9", "\xFF", tooLong, "", "x"};
        for (int c = 0; c < plugin.channels(); ++c) {
            for (std::size_t n = 0; n < plugin.input(c).size(); ++n)
                plugin.input(c)[n] = static_cast<float>(n % 97) / 50.0f - 1.0f;
        }
        plugin.run(64); // the first run may notify, as every later one may

        alloc::startCounting();
        for (int round = 0; round < 3; ++round) {
            for (float factor : {1.0f, 2.0f, 8.0f, 4.0f}) {
                plugin.control(kPortOversampling) = factor;
                plugin.control(kPortDrive) = factor;
                plugin.control(kPortMix) = 100.0f - 10.0f * factor;
                if (plugin.kind() == PluginKind::kCurve) {
                    plugin.control(kPortY0 + static_cast<uint32_t>(round)) = -factor / 2.0f;
                    plugin.control(kPortX0 + 5) = factor / 10.0f;
                } else {
                    int frame = 0;
                    for (const std::string& text : formulas)
                        plugin.patchSet(frame++ * 100, text);
                    plugin.patchGet(700);
                    const int32_t value = 1;
                    plugin.rawEvent(800, integer, &value, sizeof(value));
                }
                plugin.run(1000);
                plugin.run(1);
                plugin.run(0);
            }
        }
        const alloc::Counts counts = alloc::stopCounting();
        EXPECT_EQ(counts.allocations + counts.releases, 0);
    }
}

} // namespace
