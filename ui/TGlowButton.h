#pragma once

#include <QToolButton>

#include <functional>

namespace ui {

// A large picture button with a glossy face: light at the top, darker below a highlight line,
// warm when the mouse is over it, darker when pressed. The picture sits on the left with the
// text beside it; without a picture the text is centred. The hint is the tool tip; the window
// sets the geometry.
class TGlowButton : public QToolButton {
  Q_OBJECT

public:
  explicit TGlowButton(QWidget* Parent = nullptr);

  // Runs on every click, guarded: an error it raises goes to the application's error display.
  void SetOnClick(std::function<void()> Handler);

protected:
  void paintEvent(QPaintEvent* Event) override;

private:
  std::function<void()> FOnClick;
};

} // namespace ui
