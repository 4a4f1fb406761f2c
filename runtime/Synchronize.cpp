#include "runtime/Synchronize.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// Static initialisation runs on the thread that starts the program.
const std::thread::id MainThreadId = std::this_thread::get_id();

struct TPendingCall {
  const std::function<void()>* Call;
  std::exception_ptr Error;
  bool Finished = false;
};

// Guards every field below.
std::mutex Lock;
std::condition_variable Arrived;
std::condition_variable Ran;
std::deque<TPendingCall*> Pending;
std::function<void()> WakeMainThread;

} // namespace

bool IsMainThread() {
  return std::this_thread::get_id() == MainThreadId;
}

void SetWakeMainThread(std::function<void()> Wake) {
  std::lock_guard Guard(Lock);
  WakeMainThread = std::move(Wake);
}

void Synchronize(const std::function<void()>& Call) {
  if (IsMainThread()) {
    Call();
    return;
  }
  TPendingCall Item{&Call, nullptr};
  std::unique_lock Guard(Lock);
  Pending.push_back(&Item);
  std::function<void()> Wake = WakeMainThread;
  Arrived.notify_all();
  Guard.unlock();
  if (Wake)
    Wake();
  Guard.lock();
  Ran.wait(Guard, [&] { return Item.Finished; });
  if (Item.Error)
    std::rethrow_exception(Item.Error);
}

bool CheckSynchronize(int TimeoutMs) {
  if (!IsMainThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(TimeoutMs));
    return false;
  }
  std::unique_lock Guard(Lock);
  if (Pending.empty() && TimeoutMs > 0)
    Arrived.wait_for(Guard, std::chrono::milliseconds(TimeoutMs), [] { return !Pending.empty(); });
  bool RanAny = false;
  // One at a time, so that a call that itself waits in CheckSynchronize sees the next one.
  while (!Pending.empty()) {
    TPendingCall* Item = Pending.front();
    Pending.pop_front();
    Guard.unlock();
    try {
      (*Item->Call)();
    } catch (...) {
      Item->Error = std::current_exception();
    }
    Guard.lock();
    Item->Finished = true;
    Ran.notify_all();
    RanAny = true;
  }
  return RanAny;
}
