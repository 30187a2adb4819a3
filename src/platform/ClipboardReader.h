#pragma once
// Reads what the CLIPBOARD selection holds, in every form its owner offers,
// so the greeting can give the owner's clipboard back after its paste. Used
// by the greeting thread on its own display connection.
#include "platform/ClipboardOwner.h"

struct _XDisplay;

// True with out filled (empty when nobody owns the clipboard); false when the
// owner did not answer in time. Forms beyond kClipboardKeepLimit bytes in all are left out.
bool ReadClipboard(_XDisplay* display, CClipboardContents& out, int timeoutMs);

constexpr qsizetype kClipboardKeepLimit = 32 * 1024 * 1024;
