#pragma once
// CoInitialize / CoUninitialize. Every RegexObject and every charset step holds one balanced
// pair; tests count the calls through a ScopedComApi.
namespace sellmeter {

// Results of CoInitialize: the first call on a thread, and every nested one.
inline constexpr long kComOk = 0;     // S_OK
inline constexpr long kComFalse = 1;  // S_FALSE

class ComApi {
 public:
  virtual ~ComApi() = default;
  virtual long CoInitialize(void* reserved) = 0;
  virtual void CoUninitialize() = 0;
};

ComApi& PlatformComApi();   // defined by the platform layer
ComApi& Com();              // the one in force

class ScopedComApi {
 public:
  explicit ScopedComApi(ComApi& api);
  ~ScopedComApi();
  ScopedComApi(const ScopedComApi&) = delete;
  ScopedComApi& operator=(const ScopedComApi&) = delete;

 private:
  ComApi* previous_;
};

}  // namespace sellmeter
