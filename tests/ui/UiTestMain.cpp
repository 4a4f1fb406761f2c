#include "ui/TApplication.h"

#include <gtest/gtest.h>

// The widget tests need a Qt application; they draw off screen, so no display is needed.
int main(int Argc, char** Argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&Argc, Argv);
  ui::TApplication Application(Argc, Argv);
  return RUN_ALL_TESTS();
}
