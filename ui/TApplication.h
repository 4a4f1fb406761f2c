#pragma once

#include <QApplication>

#include <string>

namespace ui {

// The application title: the caption of the error box.
inline constexpr char ApplicationTitle[] = "Tavrune";

// The program's Qt application. It gives every window the same style on every desktop, and
// catches, as a last line behind the guarded handlers, any error that escapes an event
// handler, so that it is shown and the event loop goes on.
class TApplication : public QApplication {
  Q_OBJECT

public:
  TApplication(int& Argc, char** Argv);
  ~TApplication() override;

  bool notify(QObject* Receiver, QEvent* Event) override;
};

// Why Qt would find no display to open windows on, or empty when it will find one: Qt
// aborts the process when it finds none. A platform chosen on the command line (-platform)
// or in QT_QPA_PLATFORM is taken as given; otherwise the X display must accept a connection,
// or a Wayland socket must be there.
std::string DisplayProblem(int Argc, char** Argv);

// Lets a call handed to the main thread with Synchronize wake the Qt event loop, which then
// runs CheckSynchronize. Install it once the TApplication exists; it ends with it.
void InstallSynchronizeWakeUp();

} // namespace ui
