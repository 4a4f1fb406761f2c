#pragma once

#include <QDialog>

class QLineEdit;
class TForm1;

namespace ui {
class TGlowButton;
}

// The rename dialog: replaces the title of the main grid's current row, which names its file.
class TForm3 : public QDialog {
  Q_OBJECT

public:
  explicit TForm3(TForm1* Form1);

  void AdvGlowButton1Click();
  void AdvGlowButton2Click();

  QLineEdit* Edit1 = nullptr;
  ui::TGlowButton* AdvGlowButton1 = nullptr; // OK
  ui::TGlowButton* AdvGlowButton2 = nullptr; // Cancel

private:
  TForm1* FForm1;
};
