#include "app/mainform.h"
#include "app/uRename.h"
#include "runtime/Application.h"
#include "ui/ErrorDisplay.h"
#include "ui/TApplication.h"

#include <cfenv>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

int main(int Argc, char** Argv) {
  // Floating-point errors give infinities and NaNs, never a trap.
  fedisableexcept(FE_ALL_EXCEPT);
  if (const std::string Problem = ui::DisplayProblem(Argc, Argv); !Problem.empty()) {
    std::fprintf(stderr, "Tavrune cannot open its window: %s.\n", Problem.c_str());
    return 1;
  }
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
