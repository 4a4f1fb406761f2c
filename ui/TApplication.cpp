#include "ui/TApplication.h"

#include "runtime/Synchronize.h"
#include "ui/ErrorDisplay.h"

#include <QStyleFactory>

#include <mutex>

namespace ui {

namespace {

// The wake-up runs on the handing-over threads, which may still hold a copy of it while the
// application goes; this lock and pointer let it find out.
std::mutex WakeLock;
TApplication* WakeTarget = nullptr;

void WakeMainThread() {
  std::lock_guard Guard(WakeLock);
  if (!WakeTarget)
    return;
  QMetaObject::invokeMethod(
      WakeTarget, [] { Guarded([] { CheckSynchronize(); }); }, Qt::QueuedConnection);
}

} // namespace

TApplication::TApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {
  setApplicationName(ApplicationTitle);
  setStyle(QStyleFactory::create("Fusion"));
}

TApplication::~TApplication() {
  SetWakeMainThread(nullptr);
  std::lock_guard Guard(WakeLock);
  WakeTarget = nullptr;
}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (...) {
    HandleException(std::current_exception());
    return false;
  }
}

void InstallSynchronizeWakeUp() {
  {
    std::lock_guard Guard(WakeLock);
    WakeTarget = qobject_cast<TApplication*>(QCoreApplication::instance());
  }
  SetWakeMainThread(WakeMainThread);
}

} // namespace ui
