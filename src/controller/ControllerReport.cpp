#include "controller/CConCommonH.h"
#include "support/CLogH.h"

#include <iostream>

namespace {

const char* const kDetail = "                      :";
const char* const kPoseNames[TrackerEmulation::kPoseValues] = {"X", "Y", "Z", "Azim", "Elev", "Roll"};

}  // namespace

void CConCommonH::writeDetailStart(std::uint32_t controller) const {
    logger->info(kDetail, false);
    if (controllerCount != 1) std::cout << " " << controller << ":";
}

void CConCommonH::writePolynomial(const float* scale) const {
    const char* const powers[ControllerEntry::kScaleTerms] = {"X^3", "X^2", "X", ""};
    // The "+" follows the running sum of the terms written so far, not
    // whether a term was written.
    float sum = scale[0];
    if (scale[0] != 0.0f) std::cout << scale[0] << powers[0];
    for (std::uint32_t t = 1; t < ControllerEntry::kScaleTerms; ++t) {
        if (scale[t] == 0.0f) continue;
        if (sum != 0.0f && scale[t] > 0.0f) std::cout << "+";
        std::cout << scale[t] << powers[t];
        sum += scale[t];
    }
}

bool CConCommonH::printInfo() const {
    logger->info("CONTROLLER ORDER      : <Real con> -> <Output con>", true);
    logger->info(kDetail, false);
    for (std::uint32_t i = 1; i <= controllerCount; ++i) {
        const std::uint32_t o = controllerList[i - 1].outputNumber;
        if (o != 0) std::cout << " " << i << "->" << o + outputOffset;
    }
    std::cout << std::endl;

    for (std::uint32_t b = 1; b <= controllerCount; ++b) {
        const ControllerEntry& e = controllerList[b - 1];
        if (e.outputNumber == 0) continue;
        if (e.valuatorCount != 0) {
            logger->info("VALUATOR ORDER(SCALE) : <Real val> -> <Output val>", true);
            writeDetailStart(b);
            // Every element is shown, also those beyond the valuator count.
            for (std::uint32_t r = 1; r <= ControllerEntry::kMaxValuators; ++r) {
                const std::uint32_t o = e.valuatorOrder[r - 1];
                if (o == 0) continue;
                std::cout << " " << r << "->" << o << "(";
                writePolynomial(e.valuatorScale[r - 1]);
                std::cout << ")";
            }
            std::cout << std::endl;
        }
        if (e.buttonCount != 0) {
            logger->info("BUTTON ORDER          : <Real but> -> <Output but>", true);
            writeDetailStart(b);
            for (std::uint32_t r = 1; r <= ControllerEntry::kMaxButtons; ++r) {
                const std::uint32_t o = e.buttonOrder[r - 1];
                if (o != 0) std::cout << " " << r << "->" << o;
            }
            std::cout << std::endl;
        }
        const TrackerEmulation* t = e.trackerEmulation;
        if (t == nullptr) continue;
        logger->info("TRACKER EMULATION     :", false);
        if (controllerCount == 1) {
            std::cout << " As ";
        } else {
            std::cout << " " << b << "->";
        }
        std::cout << "tracker[" << t->trackerNumber << "]" << std::endl;
        const float* v = t->initialValues;
        writeDetailStart(b);
        std::cout << " Init Values:" << " X=" << v[0] << " Y=" << v[1] << " Z=" << v[2] << std::endl;
        writeDetailStart(b);
        std::cout << " Init Values:" << " Azim=" << v[3] << " Elev=" << v[4] << " Roll=" << v[5] << std::endl;
        writeDetailStart(b);
        std::cout << " Val Assign :";
        for (std::uint32_t k = 0; k < TrackerEmulation::kPoseValues; ++k) {
            const std::uint32_t a = t->valuatorAssignment[k];
            if (a != 0) std::cout << " " << a << "->" << kPoseNames[k];
        }
        std::cout << std::endl;
        if (t->resetButton != 0) {
            writeDetailStart(b);
            std::cout << " Reset But  : " << t->resetButton << std::endl;
        }
    }
    return true;
}
