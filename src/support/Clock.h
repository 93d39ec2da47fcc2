#pragma once

// Seconds since 1 January 1970 (UTC) with millisecond resolution.
double secondsNow();
