#pragma once

class QRect;
class QWidget;

// Centres the window on `available`, the desktop area left free by task
// bars, and gives it a title bar and system menu without minimise and
// maximise buttons.
void placeMainWindow(QWidget *window, const QRect &available);
