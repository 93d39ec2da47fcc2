#pragma once

// Lengths are held in feet. Gives the factor that turns a length in the named
// unit ("feet", "inches", "meters", "m", "cm", any case) into feet; false for
// any other word, leaving factor alone.
bool lengthUnitFactor(const char* word, float& factor);
