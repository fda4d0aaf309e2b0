#pragma once

#include <QFrame>
#include <QRect>

#include "shell/follow_layout.h"

// One module's pane: 388 x 270 dialog units at (72, 0) in the main window, created hidden at
// start-up and kept until shutdown, so its inputs, output and running work survive switches.
// That size is its smallest: the main window gives it whatever room it has beyond.
class ModulePane : public QFrame {
  Q_OBJECT

 public:
  explicit ModulePane(QWidget* mainWindow);

  // A command sent to the pane; the main window forwards Enter as command 1.
  virtual void command(int id);

  // Stops the module's activity at shutdown; the shell ends the pane afterwards.
  virtual void closeModule();

  // Places a control at dialog units inside the pane; `follow` says how it follows the pane's
  // growth (what holds output grows, buttons stay beside what they act on).
  void place(QWidget* control, int x, int y, int width, int height, Follow follow = kStay) const;

 private:
  FollowLayout* layout_;
};

inline constexpr int kPaneX = 72;
inline constexpr int kPaneWidth = 388;
inline constexpr int kPaneHeight = 270;
