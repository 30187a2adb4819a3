#pragma once
// How the program hears of page views now: at once through the wake-up, or at
// the next poll. The monitoring thread sets it; the window reads it for the
// status bar and the about box. Any thread.
#include <QString>

void SetHearingInRealTime(bool realTime);
bool HearingInRealTime();
// "访客提醒:实时", or the polling interval.
QString ViewHearingText();
