#pragma once

#include "tracker/TraMatrix.h"

#include <cstdint>

// Settings of one device tracker: where it goes out and how its sensor sits.
struct TraLookupEntry {
    std::uint32_t order;          // output position from 1; 0 means not put out
    TraMatrix sensorOffset;       // offset holder
    TraMatrix sensorRotation;
    TraMatrix sensorTransform;    // always matrixCompose(sensorRotation, sensorOffset)
    float sensorTranslation[3];   // held apart from the transform
    bool offsetSet;
    bool rotationSet;
    bool translationSet;
};
