#pragma once
// What a screen reader says for the settings page's fields (their labels stand
// beside them, not on them). Window's thread.
class QWidget;

void NameConfigPageControls(QWidget* page);
