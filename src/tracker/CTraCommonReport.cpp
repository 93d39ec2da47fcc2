#include "tracker/CTraCommonH.h"

#include "support/CLogH.h"

#include <iostream>

namespace {

constexpr const char* kContinuation = "                      :";

void writeCell(float value) {
    // Fill, precision and notation stay on the stream afterwards: only the
    // width is used up by the number. Later floats are written the same way.
    std::cout.fill(' ');
    std::cout.precision(3);
    std::cout.setf(std::ios::fixed, std::ios::floatfield);
    std::cout.width(6);
    std::cout << value;
}

void writeOffsetCells(const TraMatrix& offset) {
    std::cout << " X:" << offset.m[3] << " Y:" << offset.m[7] << " Z:" << offset.m[11] << std::endl;
}

}  // namespace

void CTraCommonH::printMatrixBlock(const TraMatrix& matrix, const char* firstLabel, std::uint32_t trackerId) const {
    for (int r = 0; r < 3; ++r) {
        logger->info(r == 0 ? firstLabel : kContinuation, false);
        if (trackerId != 0) std::cout << " " << trackerId;
        for (int c = 0; c < 3; ++c) {
            std::cout << " [" << r << "][" << c << "]:";
            writeCell(matrix.m[4 * r + c]);
        }
        std::cout << std::endl;
    }
    std::cout << std::endl;
}

bool CTraCommonH::printInfo(bool withCave) const {
    if (withCave) {
        logger->info(caveCoordinates ? "CAVE COORDINATES      : Used" : "CAVE COORDINATES      : Unused", true);
    }

    if (transmitterOffsetSet) {
        logger->info("TRANSMITTER OFFSET    :", false);
        writeOffsetCells(transmitterOffset);
    }
    if (transmitterRotationSet) printMatrixBlock(transmitterRotation, "TRANSMITTER ROTATION  :", 0);
    if (transmitterOffsetSet || transmitterRotationSet) {
        printMatrixBlock(transmitterTransform, "TRANSMITTER TRANSFORM :", 0);
    }

    logger->info("TRACKER ORDER         : <Real tra> -> <Output tra>", true);
    logger->info(kContinuation, false);
    for (std::uint32_t n = 1; n <= entryCount; ++n) {
        const TraLookupEntry& entry = lookup[n - 1];
        if (entry.order != 0) std::cout << " " << n << "->" << entry.order + outputOffset;
    }
    std::cout << std::endl;

    for (std::uint32_t n = 1; n <= entryCount; ++n) {
        const TraLookupEntry& entry = lookup[n - 1];
        if (entry.order == 0) continue;
        if (entry.offsetSet) {
            logger->info("SENSOR OFFSET         :", false);
            std::cout << " " << n;
            writeOffsetCells(entry.sensorOffset);
        }
        if (entry.rotationSet) printMatrixBlock(entry.sensorRotation, "SENSOR ROTATION       :", n);
        if (entry.offsetSet || entry.rotationSet) {
            printMatrixBlock(entry.sensorTransform, "SENSOR TRANSFORM      :", n);
        }
    }

    if (calibLibrary != nullptr) {
        logger->info("CALIBRATION LIBRARY   :", false);
        std::cout << " name:" << calibLibraryName << std::endl;
        for (std::uint32_t i = 0; i < calibArgCount; ++i) {
            logger->info(kContinuation, false);
            std::cout << " arg[" << i << "]:" << calibArgs[i] << std::endl;
        }
    }
    return true;
}
