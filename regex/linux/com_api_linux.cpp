#include "regex/linux/com_api_linux.h"

#include "regex/com_api.h"

namespace sellmeter {
namespace {

thread_local int depth = 0;

class LinuxComApi final : public ComApi {
 public:
  long CoInitialize(void*) override { return depth++ == 0 ? kComOk : kComFalse; }
  // As on Windows, an extra CoUninitialize on a thread that is not initialised does nothing.
  void CoUninitialize() override {
    if (depth > 0) --depth;
  }
};

}  // namespace

int ComInitializationDepth() { return depth; }

ComApi& PlatformComApi() {
  static LinuxComApi api;
  return api;
}

}  // namespace sellmeter
