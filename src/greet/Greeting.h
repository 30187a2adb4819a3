#pragma once
// Greeting templates: "[username]" becomes the visitor's name and
// "[randomcode]" one fresh 32-digit code per message, so no two sent texts
// are alike. Expanded on the greeting thread just before a greeting is sent.
#include <QString>

// "[username]" first, then "[randomcode]" (all occurrences share one code);
// case-sensitive, left to right, inserted text not scanned again by its own step.
QString ExpandGreeting(const QString& tmpl, const QString& visitor);
// 32 upper-case hexadecimal digits from a new random UUID.
QString MakeRandomCode();
// The template the account page offers for a new account.
QString DefaultGreeting();
