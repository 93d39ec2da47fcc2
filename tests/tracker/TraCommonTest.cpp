#include "CaptureStdout.h"
#include "TestOptions.h"
#include "tracker/CTraCommonH.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

namespace {

bool sameMatrix(const TraMatrix& a, const TraMatrix& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TraMatrix identity() {
    TraMatrix m;
    matrixIdentity(&m);
    return m;
}

void expectReset(const TraLookupEntry& e) {
    EXPECT_EQ(e.order, 0u);
    EXPECT_TRUE(sameMatrix(e.sensorOffset, TraMatrix{}));
    EXPECT_TRUE(sameMatrix(e.sensorRotation, identity()));
    EXPECT_TRUE(sameMatrix(e.sensorTransform, identity()));
    EXPECT_EQ(e.sensorTranslation[0], 0.0f);
    EXPECT_EQ(e.sensorTranslation[2], 0.0f);
    EXPECT_FALSE(e.offsetSet || e.rotationSet || e.translationSet);
}

TEST(TraCommon, StartsWithoutLookupAndTracesWithOwnDebugLevelThree) {
    const CLogH host = quietLogger("HOST", 3);
    CaptureStdout out;
    {
        CTraCommonH part(&host);
        EXPECT_FALSE(part.setLookupEntry(1, 1, nullptr, nullptr, nullptr));
        EXPECT_TRUE(part.inputConnector);
        EXPECT_EQ(part.maxTrackers, 0u);
        EXPECT_EQ(part.outputOffset, 0u);
        EXPECT_TRUE(sameMatrix(part.getTransmitterOffset(), TraMatrix{}));
        EXPECT_TRUE(sameMatrix(part.getTransmitterRotation(), identity()));
        EXPECT_TRUE(sameMatrix(part.getTransmitterTransform(), identity()));
        EXPECT_EQ(part.getCalibration(), nullptr);
        TestOptions options;
        EXPECT_FALSE(part.parseOptions(options.list()));
    }
    EXPECT_EQ(out.text(),
              "HOST: DEBUG: CTraCommonH: \"constructor\" called.\n"
              "HOST: ERROR: CTraCommonH: lookup is Null.\n"
              "HOST: DEBUG: CTraCommonH: \"destructor\" called.\n");
}

TEST(TraCommon, DefaultLoggerIsNamedAndReportsAMissingList) {
    CaptureStdout out;
    CTraCommonH part(nullptr);
    ASSERT_TRUE(part.createLookup(1));
    EXPECT_FALSE(part.parseOptions(nullptr));
    EXPECT_TRUE(std::regex_search(out.text(), std::regex(" CTraCommonH\\[\\d+\\]: ERROR: CTraCommonH: config is empty\\.\n$")))
        << out.text();
}

TEST(TraCommon, LookupIsSizedAndEveryNewLookupStartsReset) {
    const CLogH host = quietLogger();
    CTraCommonH part(&host);
    EXPECT_FALSE(part.createLookup(0));
    ASSERT_TRUE(part.createLookup(3));
    EXPECT_FALSE(part.setLookupEntry(0, 1, nullptr, nullptr, nullptr));
    EXPECT_FALSE(part.setLookupEntry(4, 1, nullptr, nullptr, nullptr));
    const TraMatrix offset = matrixOffset(1, 2, 3);
    const float translation[3] = {4, 5, 6};
    EXPECT_TRUE(part.setLookupEntry(3, 2, &offset, nullptr, translation));
    const TraLookupEntry* third = part.getLookupEntry(3);
    EXPECT_EQ(third->order, 2u);
    EXPECT_TRUE(third->offsetSet && third->translationSet && !third->rotationSet);
    EXPECT_EQ(third->sensorTransform.m[12], 1.0f);
    EXPECT_EQ(third->sensorTransform.m[14], 3.0f);

    EXPECT_FALSE(part.createLookup(0));  // refused: the old lookup stays
    EXPECT_EQ(part.getLookupEntry(3)->order, 2u);
    ASSERT_TRUE(part.createLookup(3));
    for (std::uint32_t n = 1; n <= 3; ++n) expectReset(*part.getLookupEntry(n));
    EXPECT_EQ(part.getLookupEntry(4), nullptr);
}

TEST(TraCommon, RotationOnlyEntryHasTheRotationAsTransform) {
    const CLogH host = quietLogger();
    CTraCommonH part(&host);
    ASSERT_TRUE(part.createLookup(1));
    const TraMatrix rotation = matrixRotation(0, 0, 1, 90);
    ASSERT_TRUE(part.setLookupEntry(1, 1, nullptr, &rotation, nullptr));
    TraMatrix expected = rotation;
    expected.m[15] = 1.0f;
    EXPECT_TRUE(sameMatrix(part.getLookupEntry(1)->sensorTransform, expected));
    EXPECT_TRUE(part.getLookupEntry(1)->rotationSet);
    EXPECT_FALSE(part.getLookupEntry(1)->offsetSet || part.getLookupEntry(1)->translationSet);
}

}  // namespace
