#include "tracker/CTraCommonH.h"

#include <new>

bool CTraCommonH::createLookup(std::uint32_t count) {
    if (count == 0) return false;
    // Nothing may throw out of the plug-in: an absurd count is a plain failure
    // that keeps the lookup there was.
    TraLookupEntry* fresh = new (std::nothrow) TraLookupEntry[count];
    if (fresh == nullptr) return false;
    delete[] lookup;
    lookup = fresh;
    entryCount = count;
    for (std::uint32_t n = 1; n <= count; ++n) setLookupEntry(n, 0, nullptr, nullptr, nullptr);
    return true;
}

bool CTraCommonH::setLookupEntry(std::uint32_t index, std::uint32_t order, const TraMatrix* offset,
                                 const TraMatrix* rotation, const float* translation) {
    if (lookup == nullptr || index == 0 || index > entryCount) return false;
    TraLookupEntry& entry = lookup[index - 1];
    entry.order = order;

    if (offset != nullptr) {
        entry.sensorOffset = *offset;
        entry.offsetSet = true;
    } else {
        matrixZero(&entry.sensorOffset);
        entry.offsetSet = false;
    }

    if (rotation != nullptr) {
        entry.sensorRotation = *rotation;
        entry.rotationSet = true;
    } else {
        matrixIdentity(&entry.sensorRotation);
        entry.rotationSet = false;
    }

    for (int i = 0; i < 3; ++i) entry.sensorTranslation[i] = translation != nullptr ? translation[i] : 0.0f;
    entry.translationSet = translation != nullptr;

    entry.sensorTransform = matrixCompose(entry.sensorRotation, entry.sensorOffset);
    return true;
}

const TraLookupEntry* CTraCommonH::getLookupEntry(std::uint32_t trackerId) const {
    if (lookup == nullptr || trackerId == 0 || trackerId > entryCount) return nullptr;
    return &lookup[trackerId - 1];
}
