#pragma once

#include "tracker/TraLookupEntry.h"
#include "tracker/TraMatrix.h"

#include <cstdint>
#include <string>

class CCalibH;
class CLogH;
struct OptionEntry;
struct OptionList;

// The settings a tracker device shares with every other: which device tracker
// goes out as which output tracker, transmitter and sensor placement, the CAVE
// coordinates switch and a calibration library. They are held and reported;
// nothing here applies them to records.
class CTraCommonH {
public:
    static constexpr std::uint32_t kLibraryNameSize = 256;  // 255 characters and the terminator
    static constexpr std::uint32_t kMaxCalibrationArgs = 10;

    explicit CTraCommonH(const CLogH* givenLogger);
    ~CTraCommonH();
    CTraCommonH(const CTraCommonH&) = delete;
    CTraCommonH& operator=(const CTraCommonH&) = delete;

    // Replaces the lookup by count reset entries; false for 0, keeping the old one.
    bool createLookup(std::uint32_t count);
    // Entry of tracker id index (from 1); absent matrices and translation reset
    // their part and clear its flag. False without a lookup or for an unknown id.
    bool setLookupEntry(std::uint32_t index, std::uint32_t order, const TraMatrix* offset,
                        const TraMatrix* rotation, const float* translation);

    // Reads the common tracker options; false when any line was faulty.
    bool parseOptions(OptionList* config);
    // Writes the tracker section of the device report; always true.
    bool printInfo(bool withCave) const;

    std::uint32_t getEntryCount() const { return entryCount; }
    // Entry of tracker id (from 1), null when there is none.
    const TraLookupEntry* getLookupEntry(std::uint32_t trackerId) const;
    const TraMatrix& getTransmitterOffset() const { return transmitterOffset; }
    const TraMatrix& getTransmitterRotation() const { return transmitterRotation; }
    const TraMatrix& getTransmitterTransform() const { return transmitterTransform; }
    bool isTransmitterOffsetSet() const { return transmitterOffsetSet; }
    bool isTransmitterRotationSet() const { return transmitterRotationSet; }
    bool getCaveCoordinates() const { return caveCoordinates; }
    const CCalibH* getCalibration() const { return calibLibrary; }
    const char* getCalibrationName() const { return calibLibraryName; }
    std::uint32_t getCalibrationArgCount() const { return calibArgCount; }
    const char* getCalibrationArg(std::uint32_t i) const;

private:
    enum class OptionKind {
        TransmitterOffset,
        TransmitterRotation,
        TransmitterRotationMatrix,
        SensorOffset,
        SensorTranslation,
        SensorRotation,
        SensorRotationMatrix,
        Calibration,
        Order,
        CaveCoord,
    };

    // Each returns false when the line was faulty (already reported).
    bool parseTransmitterOption(OptionEntry& entry, OptionKind kind, bool afterFailure);
    bool parseSensorOption(OptionEntry& entry, OptionKind kind, bool afterFailure);
    bool parseCalibration(OptionEntry& entry);
    bool parseOrder(OptionEntry& entry);
    bool parseCaveCoord(OptionEntry& entry);
    bool readTrackerId(const char* text, std::uint32_t& trackerId) const;
    void releaseCalibration();

    void printMatrixBlock(const TraMatrix& matrix, const char* firstLabel, std::uint32_t trackerId) const;

    bool ownsLogger;
    std::uint32_t entryCount;
    TraLookupEntry* lookup;

public:
    // Written by the owning driver before parseOptions.
    bool inputConnector;

private:
    TraMatrix transmitterOffset;
    TraMatrix transmitterRotation;
    TraMatrix transmitterTransform;  // always matrixCompose(transmitterRotation, transmitterOffset)
    bool transmitterOffsetSet;
    bool transmitterRotationSet;
    bool caveCoordinates;

public:
    // Written by the owning driver; maxTrackers caps the order option and
    // outputOffset is added to every output tracker number.
    std::uint32_t maxTrackers;
    std::uint32_t outputOffset;

private:
    CCalibH* calibLibrary;
    char calibLibraryName[kLibraryNameSize];
    std::string calibArgs[kMaxCalibrationArgs];
    std::uint32_t calibArgCount;
    CLogH* logger;
};
