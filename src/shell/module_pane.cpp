#include "shell/module_pane.h"

#include "shell/dialog_units.h"

ModulePane::ModulePane(QWidget* mainWindow) : QFrame(mainWindow) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);  // the client edge
  setGeometry(Dlu().rect(kPaneX, 0, kPaneWidth, kPaneHeight));
  layout_ = new FollowLayout(this, size());
  hide();
}

void ModulePane::command(int) {}

void ModulePane::closeModule() {}

void ModulePane::place(QWidget* control, int x, int y, int width, int height, Follow follow) const {
  layout_->add(control, Dlu().rect(x, y, width, height).translated(contentsRect().topLeft()),
               follow);
}
