#pragma once

#include <QFrame>
#include <QRect>

// One module's pane: 388 x 270 dialog units at (72, 0) in the main window, created hidden at
// start-up and kept until shutdown, so its inputs, output and running work survive switches.
class ModulePane : public QFrame {
  Q_OBJECT

 public:
  explicit ModulePane(QWidget* mainWindow);

  // A command sent to the pane; the main window forwards Enter as command 1.
  virtual void command(int id);

  // Stops the module's activity at shutdown; the shell ends the pane afterwards.
  virtual void closeModule();

  // Places a control at dialog units inside the pane.
  void place(QWidget* control, int x, int y, int width, int height) const;
};

inline constexpr int kPaneX = 72;
inline constexpr int kPaneWidth = 388;
inline constexpr int kPaneHeight = 270;
