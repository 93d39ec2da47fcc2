#pragma once

#include "serial/CRS232H.h"

#include <string>

// The line settings the wand driver hands to storeAttributes: binary, 8 data
// bits, no parity, one stop bit, 100 ms per byte read.
PortAttributes wandAttributes();

// Opens and sets up a port the way the wand driver does, at 9600 baud.
bool openLikeTheWand(CRS232H& port, const std::string& name);
