#include "app/uRename.h"

#include "app/mainform.h"
#include "ui/TGlowButton.h"
#include "ui/TStringGrid.h"

#include <QLabel>
#include <QLineEdit>

TForm3::TForm3(TForm1* Form1) : QDialog(Form1), FForm1(Form1) {
  setWindowTitle("Rename Track Title");
  setFixedSize(410, 203);
  setModal(true);

  auto* Label1 = new QLabel("Enter New Track Title:  ", this);
  Label1->move(24, 24);
  Edit1 = new QLineEdit(this);
  Edit1->setGeometry(24, 56, 313, Edit1->sizeHint().height());

  AdvGlowButton1 = new ui::TGlowButton(this);
  AdvGlowButton1->setText("OK");
  AdvGlowButton1->setGeometry(24, 128, 100, 41);
  AdvGlowButton1->SetOnClick([this] { AdvGlowButton1Click(); });
  AdvGlowButton2 = new ui::TGlowButton(this);
  AdvGlowButton2->setText("Cancel");
  AdvGlowButton2->setGeometry(237, 128, 100, 41);
  AdvGlowButton2->SetOnClick([this] { AdvGlowButton2Click(); });
}

void TForm3::AdvGlowButton1Click() {
  ui::TStringGrid* Grid = FForm1->sgCDSrc;
  // The header row is never the current row; with no row selected there is nothing to rename.
  if (Grid->Row() >= 1)
    Grid->SetCells(2, Grid->Row(), Edit1->text().toStdString());
  accept();
}

void TForm3::AdvGlowButton2Click() {
  reject();
}
