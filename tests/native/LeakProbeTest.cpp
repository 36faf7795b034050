// Built only against the bridge copy that leaks on purpose: the sanitizer
// run of this binary must report that leak, or the leak check proves nothing.
#include "BridgeTest.h"

namespace kt {
namespace {

class LeakProbeTest : public BridgeTest {};

TEST_F(LeakProbeTest, ListsSlotsThroughTheLeakingBridge) {
    loadAndInitialize(plainMock());
    EXPECT_NE(Java_qorvik_nat_NativeCryptoki_GetSlotList(env, cryptoki, JNI_FALSE), nullptr);
    expectNoException();
}

}  // namespace
}  // namespace kt
