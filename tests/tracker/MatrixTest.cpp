#include "tracker/TraMatrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

namespace {

// Compares all sixteen elements against the expected rows.
void expectMatrix(const TraMatrix& actual, std::initializer_list<float> expected, float tolerance = 1e-6f) {
    int i = 0;
    for (float value : expected) {
        EXPECT_NEAR(actual.m[i], value, tolerance) << "element " << i;
        ++i;
    }
}

TEST(TraMatrix, ZeroIdentityOffsetAndRowsFillTheirElements) {
    TraMatrix m;
    for (float& e : m.m) e = 7.0f;
    ASSERT_TRUE(matrixZero(&m));
    expectMatrix(m, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0);
    m.m[3] = 7.0f;
    ASSERT_TRUE(matrixIdentity(&m));
    expectMatrix(m, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, 0);
    EXPECT_FALSE(matrixZero(nullptr));
    EXPECT_FALSE(matrixIdentity(nullptr));

    expectMatrix(matrixOffset(1, 2, 3), {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0}, 0);
    expectMatrix(matrixFromRows(1, 2, 3, 4, 5, 6, 7, 8, 9), {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 0}, 0);
}

TEST(TraMatrix, RotatesCounterClockwiseAboutEachAxisAndLeavesElement15Zero) {
    // The single-precision degree factor leaves cos(90°) a little above 0.
    expectMatrix(matrixRotation(0, 0, 1, 90), {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0});
    expectMatrix(matrixRotation(1, 0, 0, 90), {1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 0});
    expectMatrix(matrixRotation(0, 1, 0, 90), {0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    const float h = std::sqrt(0.5f);
    expectMatrix(matrixRotation(0, 0, 1, 45), {h, h, 0, 0, -h, h, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0});
    // 120° about the diagonal carries x to y, y to z and z to x.
    expectMatrix(matrixRotation(1, 1, 1, 120), {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    // 0.0174532905f × 180 rounds to the float 3.14159226, whose sine is 3.894144e-7;
    // a double factor would give about 1e-16 here.
    EXPECT_NEAR(matrixRotation(0, 0, 1, 180).m[1], 3.894144e-7f, 1e-12f);
}

TEST(TraMatrix, ZeroScaledAndTinyAxes) {
    const std::initializer_list<float> block = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    expectMatrix(matrixRotation(0, 0, 0, 45), block, 0);
    expectMatrix(matrixRotation(0, 1, 0, 0), block, 0);
    const TraMatrix unit = matrixRotation(0, 0, 1, 30);
    const TraMatrix scaled = matrixRotation(0, 0, 2, 30);
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(scaled.m[i], unit.m[i]) << i;
    // An axis whose squares underflow a float is still a direction, not "no axis".
    const TraMatrix tiny = matrixRotation(1e-30f, 0, 0, 90);
    const TraMatrix x = matrixRotation(1, 0, 0, 90);
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(tiny.m[i], x.m[i]) << i;
}

TEST(TraMatrix, ComposeTakesRotationRowsAndTheHoldersXYZ) {
    TraMatrix identity;
    matrixIdentity(&identity);
    expectMatrix(matrixCompose(identity, matrixOffset(1, 2, 3)), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}, 0);

    TraMatrix rotation = matrixRotation(0, 0, 1, 90);
    TraMatrix zero{};
    TraMatrix composed = matrixCompose(rotation, zero);
    rotation.m[15] = 1.0f;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(composed.m[i], rotation.m[i]) << i;

    // Row 3 of the rotation and all but elements 3, 7, 11 of the holder are ignored.
    TraMatrix junkRotation = matrixFromRows(1, 2, 3, 4, 5, 6, 7, 8, 9);
    junkRotation.m[3] = junkRotation.m[12] = junkRotation.m[15] = 9;
    TraMatrix junkOffset = matrixOffset(4, 5, 6);
    junkOffset.m[0] = junkOffset.m[12] = junkOffset.m[15] = 9;
    expectMatrix(matrixCompose(junkRotation, junkOffset), {1, 2, 3, 9, 4, 5, 6, 0, 7, 8, 9, 0, 4, 5, 6, 1}, 0);
}

}  // namespace
