#pragma once
// The compiled-in resources (toolbar strips, icons, chime) live in a static
// library; this pulls them into whichever program links it. Idempotent.
void InitMirelResources();
