#pragma once

// The state of one of our libraries behind its C interface, and the boundary of its calls.
#include <atomic>
#include <type_traits>

namespace libs {

// The state is made at the first call and destroyed at process end. A loader that shuts the
// library down from its own static objects may still call in after that, so every call goes
// through Guarded, which then returns the call's failure value.
template <class TState> class TLibraryState {
public:
  static TState& Get() {
    static THolder Holder;
    return Holder.State;
  }

  // No exception leaves the library, and nothing touches its state once it has gone.
  template <class TBody>
  static std::invoke_result_t<TBody> Guarded(std::invoke_result_t<TBody> Failure,
                                             TBody Body) noexcept {
    if (FGone)
      return Failure;
    try {
      return Body();
    } catch (...) {
      return Failure;
    }
  }

private:
  struct THolder {
    TState State;
    ~THolder() { FGone = true; }
  };
  // Trivially destructible, so readable after the holder has gone.
  static inline std::atomic<bool> FGone{false};
};

} // namespace libs
