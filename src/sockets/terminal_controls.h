#pragma once

class QComboBox;

// Controls the socket terminals and the capture pane share.

// Fills a drop-down list with the local address list, first entry selected.
void FillLocalAddressBox(QComboBox* box);
