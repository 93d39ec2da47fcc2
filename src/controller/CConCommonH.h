#pragma once

#include "controller/ControllerEntry.h"

#include <cstdint>

class CLogH;
struct ConData;
struct OptionEntry;
struct OptionList;
struct TraData;

// The controller part every controller device shares: for each physical
// controller, how its valuators and buttons are renumbered and scaled, under
// which output number it is published, and whether it drives an emulated
// tracker. Built during the device's init, read on every data cycle.
class CConCommonH {
public:
    explicit CConCommonH(const CLogH* hostLogger);
    ~CConCommonH();
    CConCommonH(const CConCommonH&) = delete;
    CConCommonH& operator=(const CConCommonH&) = delete;

    // The list.
    bool createControllerList(std::uint32_t count, bool limitCounts);
    bool setControllerDefaults(std::uint32_t controller, std::int32_t outputNumber, std::uint32_t valuatorCount,
                               std::uint32_t buttonCount);
    // Null tables count as all zeros.
    bool setTrackerEmulation(std::uint32_t controller, std::int32_t trackerNumber, const float* initialValues,
                             const std::uint32_t* valuatorAssignment, std::int32_t resetButton);
    std::int32_t assignTrackerNumbers(std::int32_t first);
    bool deleteControllerList();

    // The controller options of a device's option lines.
    bool parseOptions(OptionList* list);

    // The data path.
    double scaleValuator(std::uint32_t controller, std::uint32_t valuator, float x) const;
    // One data cycle of a controller into the work record: raw valuators
    // through scale and valuator order, raw buttons through the button order,
    // and the record number. Real values beyond the given counts are absent.
    bool mapController(std::uint32_t controller, const float* valuators, std::uint32_t valuatorValues,
                       const std::int32_t* buttons, std::uint32_t buttonValues, ConData& record) const;
    bool emulateTracker(std::uint32_t controller, TraData* tracker, const ConData* record);
    bool resetEmulatedTracker(std::int32_t controller, TraData* tracker, const ConData* record) const;

    bool printInfo() const;

    // Read access for the owning driver; 0 or null for a controller not in the list.
    std::uint32_t getControllerCount() const { return controllerCount; }
    const ControllerEntry* getController(std::uint32_t controller) const;
    std::uint32_t getOutputNumber(std::uint32_t controller) const;
    std::uint32_t getValuatorCount(std::uint32_t controller) const;
    std::uint32_t getButtonCount(std::uint32_t controller) const;
    // Element r-1 of the order tables, r counted from 1.
    std::uint32_t getValuatorOrder(std::uint32_t controller, std::uint32_t r) const;
    std::uint32_t getButtonOrder(std::uint32_t controller, std::uint32_t r) const;
    std::uint32_t getEmulatedTrackerNumber(std::uint32_t controller) const;
    double getElapsedTime() const { return elapsedTime; }

    // Where a controller goes in the controller storage, both counted from 1:
    // the entry its device claimed for it, and the number it is published as
    // (its output number past outputOffset; 0 when that is no storage entry).
    struct Publication {
        std::uint32_t entry;
        std::uint32_t number;
    };
    Publication publication(std::uint32_t controller) const;
    // The number a controller's emulated tracker is published as past the
    // tracker part's offset; 0 when that is no storage entry.
    std::uint32_t trackerPublication(std::uint32_t controller, std::uint32_t trackerOffset) const;

private:
    ControllerEntry* entry(std::uint32_t controller) const;
    void freeList();
    void reportLineError(const char* problem, const char* option, std::uint32_t lineNumber,
                         const char* ending) const;
    // The controller a line's first argument names; null, reported, when the
    // line has no arguments or names none.
    ControllerEntry* namedController(const OptionEntry& line, const char* option, const char* idOption) const;
    bool parseEmulateTracker(const OptionEntry& line);
    bool parseOrder(const OptionEntry& line, bool buttons);
    bool parseValuatorScale(const OptionEntry& line);
    bool parseControllerOrder(const OptionEntry& line);
    void writeDetailStart(std::uint32_t controller) const;
    void writePolynomial(const float* scale) const;

    bool ownsLogger;
    double elapsedTime;
    std::uint32_t controllerCount;

public:
    // When set, the order options accept real IDs only up to the current counts.
    bool countLimit;

private:
    ControllerEntry* controllerList;

public:
    // An input connector's controller order is fixed: its order options are passed over.
    bool inputConnector;
    std::uint32_t outputControllerCount;
    std::uint32_t outputOffset;

private:
    CLogH* logger;

public:
    // Time source of the tracker emulation, seconds; tests replace it.
    double (*clockSource)();
};
