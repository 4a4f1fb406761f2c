#include "ui/TApplication.h"

#include "runtime/Synchronize.h"
#include "ui/ErrorDisplay.h"

#include <QStyleFactory>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
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

struct TXcbDisconnect {
  void operator()(xcb_connection_t* Connection) const { xcb_disconnect(Connection); }
};

bool WaylandSocketExists(const char* Name) {
  namespace fs = std::filesystem;
  if (Name[0] == '/')
    return fs::exists(Name);
  const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
  return Runtime && *Runtime && fs::exists(fs::path(Runtime) / Name);
}

} // namespace

std::string DisplayProblem(int Argc, char** Argv) {
  for (int I = 1; I < Argc; ++I)
    if (std::strcmp(Argv[I], "-platform") == 0 || std::strncmp(Argv[I], "-platform=", 10) == 0)
      return "";
  if (const char* Platform = std::getenv("QT_QPA_PLATFORM"); Platform && *Platform)
    return "";
  const char* Display = std::getenv("DISPLAY");
  const char* Wayland = std::getenv("WAYLAND_DISPLAY");
  if (Display && *Display) {
    // xcb_connect never gives null: a failed connection is an error object to free.
    const std::unique_ptr<xcb_connection_t, TXcbDisconnect> Connection(
        xcb_connect(Display, nullptr));
    if (xcb_connection_has_error(Connection.get()) == 0)
      return "";
    return std::string("cannot connect to the X display \"") + Display + "\"";
  }
  if (Wayland && *Wayland) {
    if (WaylandSocketExists(Wayland))
      return "";
    return std::string("the Wayland display \"") + Wayland + "\" is not there";
  }
  return "no display: DISPLAY and WAYLAND_DISPLAY are not set";
}

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
