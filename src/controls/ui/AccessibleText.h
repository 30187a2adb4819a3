#pragma once
// Names (and descriptions) screen readers say for controls that show no text
// of their own: edits, spin boxes, lists, pictures. Window's thread.
#include <initializer_list>

class QWidget;

struct CAccessibleText
{
    const char* objectName;
    const char* name;
    const char* description = nullptr;
};

// The root and its children found by object name; one already named keeps its name.
void SetAccessibleTexts(QWidget* root, std::initializer_list<CAccessibleText> texts);
