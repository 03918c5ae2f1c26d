#include <gtest/gtest.h>

#include <thread>

#include "regex/com_api.h"
#include "regex/linux/com_api_linux.h"

namespace sellmeter {
namespace {

TEST(LinuxComApi, CountsNestedInitialisationPerThread) {
  ComApi& com = PlatformComApi();
  const int before = ComInitializationDepth();
  ASSERT_EQ(before, 0);
  EXPECT_EQ(com.CoInitialize(nullptr), kComOk);
  EXPECT_EQ(com.CoInitialize(nullptr), kComFalse);
  EXPECT_EQ(ComInitializationDepth(), 2);

  int otherThreadDepth = -1;
  long otherThreadResult = -1;
  std::thread([&] {
    otherThreadDepth = ComInitializationDepth();
    otherThreadResult = PlatformComApi().CoInitialize(nullptr);
    PlatformComApi().CoUninitialize();
  }).join();
  EXPECT_EQ(otherThreadDepth, 0);
  EXPECT_EQ(otherThreadResult, kComOk);

  com.CoUninitialize();
  com.CoUninitialize();
  EXPECT_EQ(ComInitializationDepth(), 0);
  com.CoUninitialize();  // unbalanced: ignored, the count never goes negative
  EXPECT_EQ(ComInitializationDepth(), 0);
  EXPECT_EQ(com.CoInitialize(nullptr), kComOk);
  com.CoUninitialize();
}

class NullCom final : public ComApi {
 public:
  long CoInitialize(void*) override { return 42; }
  void CoUninitialize() override {}
};

TEST(ComSeam, ScopedOverrideNestsAndRestores) {
  NullCom outer, inner;
  EXPECT_EQ(&Com(), &PlatformComApi());
  {
    ScopedComApi a(outer);
    EXPECT_EQ(&Com(), &outer);
    {
      ScopedComApi b(inner);
      EXPECT_EQ(&Com(), &inner);
    }
    EXPECT_EQ(&Com(), &outer);
  }
  EXPECT_EQ(&Com(), &PlatformComApi());
}

}  // namespace
}  // namespace sellmeter
