#pragma once
// The override slot of a platform seam. While a SeamOverride<Api> lives, the implementation it
// was given is the one in force for Api (tests put fakes in this way); overrides nest, and each
// Api has a slot of its own.
namespace sellmeter {

template <class Api>
class SeamOverride {
 public:
  explicit SeamOverride(Api& api) : previous_(overriding_) { overriding_ = &api; }
  ~SeamOverride() { overriding_ = previous_; }
  SeamOverride(const SeamOverride&) = delete;
  SeamOverride& operator=(const SeamOverride&) = delete;

  // The innermost override, else fallback's; fallback is called only when nothing overrides.
  static Api& InForce(Api& (*fallback)()) {
    return overriding_ != nullptr ? *overriding_ : fallback();
  }

 private:
  static inline Api* overriding_ = nullptr;
  Api* previous_;
};

}  // namespace sellmeter
