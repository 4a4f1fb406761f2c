#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// The one reference count of an object that offers several interfaces of the writer layer:
// each interface's AddRef and Release land here. Objects are made with new and a count of 1.
template <class... Interfaces> class TWMRefCounted : public Interfaces... {
public:
  TWMRefCounted() = default;
  TWMRefCounted(const TWMRefCounted&) = delete;
  TWMRefCounted& operator=(const TWMRefCounted&) = delete;

  uint32_t AddRef() override { return ++FCount; }
  uint32_t Release() override {
    const uint32_t Count = --FCount;
    if (Count == 0)
      delete this;
    return Count;
  }

protected:
  virtual ~TWMRefCounted() = default;

private:
  std::atomic<uint32_t> FCount{1};
};

} // namespace platform
