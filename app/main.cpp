#include "app/mainform.h"
#include "app/uRename.h"
#include "runtime/Application.h"
#include "ui/ErrorDisplay.h"
#include "ui/TApplication.h"

#include <cfenv>
#include <exception>
#include <memory>

int main(int Argc, char** Argv) {
  // Floating-point errors give infinities and NaNs, never a trap.
  fedisableexcept(FE_ALL_EXCEPT);
  ui::TApplication Application(Argc, Argv);
  ui::InstallErrorDisplay();
  ui::InstallSynchronizeWakeUp();

  std::unique_ptr<TForm1> Form1;
  try {
    Form1 = std::make_unique<TForm1>();
  } catch (...) {
    // A component that cannot start (a missing library) ends the program.
    HandleException(std::current_exception());
    return 1;
  }
  TForm3 Form3(Form1.get());
  Form1->SetRenameDialog(&Form3);
  Form1->show();
  return Application.exec();
}
