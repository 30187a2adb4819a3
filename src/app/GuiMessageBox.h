#pragma once
// The real message-box handler: a QMessageBox on the window's thread. A call
// from a worker thread is carried over to the window's thread and waits there
// for the answer; the window's thread itself never waits for a worker.
class QWidget;

// Installs the handler unless one is installed already (tests install a
// recorder first); boxes are owned by owner (may be null) from now on.
void InstallGuiMessageBoxHandler(QWidget* owner);
// While exiting, boxes are not shown: every call answers OK / No at once.
void SuppressGuiMessageBoxes(bool suppress);
