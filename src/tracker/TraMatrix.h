#pragma once

// Sixteen floats read in rows of four: element 4r + c is row r, column c.
// Depending on who made it, a matrix is an offset holder (x, y, z in elements
// 3, 7, 11), a rotation (the upper-left 3 x 3 block) or a transform (rotation
// rows plus the translation in elements 12 to 14 and 1 in element 15).
struct TraMatrix {
    float m[16];
};

static_assert(sizeof(TraMatrix) == 16 * sizeof(float), "TraMatrix is sixteen floats and nothing else");

// All sixteen elements 0; false when no matrix is given.
bool matrixZero(TraMatrix* matrix);

// 1 on the diagonal including element 15; false when no matrix is given.
bool matrixIdentity(TraMatrix* matrix);

// Offset holder: x, y, z in elements 3, 7, 11, every other element 0.
TraMatrix matrixOffset(float x, float y, float z);

// Rotation by an angle in degrees about an axis of any non-zero length; a zero
// axis gives the 3 x 3 identity. Element 15 stays 0.
TraMatrix matrixRotation(float axisX, float axisY, float axisZ, float angleDegrees);

// Rotation block from nine values, three per row, taken as they are.
TraMatrix matrixFromRows(float a0, float a1, float a2, float a3, float a4, float a5, float a6, float a7,
                         float a8);

// Transform: rows 0 to 2 of the rotation, row 3 = (x, y, z, 1) of the holder.
TraMatrix matrixCompose(TraMatrix rotation, TraMatrix offset);
