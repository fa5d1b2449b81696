// The configuration file "<baseName>.ini" that sets the engine-wide settings,
// and the console's report of them.
#pragma once

#include "engine/settings.h"

// Reads "<baseName>.ini". True when the file cannot be opened (defaults stay).
bool ReadIniFile(const char* baseName);
// The console's settings report, straight to standard output.
void PrintSettings();
