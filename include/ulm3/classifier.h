// The classifier: how voxel fields become the colour and opacity of a
// sample, through up to four lookup tables and three combining operations.
#pragma once

#include <cstdint>

#include "ulm3/fields.h"
#include "ulm3/status.h"

namespace ulm3 {

class ULMLookupTable;

// Table i looks up voxel field source(i); operation 0 combines the outputs
// of tables 0 (A) and 1 (B), operation 1 those of tables 2 and 3, and
// operation 2 the results of operations 0 (A) and 1 (B) into the sample's
// red, green, blue and alpha. A classifier is a value: copies share the
// tables, each copy holding its own reference on them.
//
// A new classifier has no tables, the operations of DirectRGBA, trilinear
// interpolation and interpolates first. It is valid while tables 0..2 have
// 0 or 256 entries and table 3 has 0, 256 or 4096; a DirectRGBA given a bad
// field number is invalid for good.
class ULMClassifier {
public:
    enum InterpolationOrder : int32_t { kInterpolateFirst = 0, kClassifyFirst = 1 };

    static constexpr int kTables = 4;
    static constexpr int kOperations = 3;

    ULMClassifier();
    ULMClassifier(const ULMClassifier& other);
    ULMClassifier& operator=(const ULMClassifier& other);
    ~ULMClassifier();

    // Fields f0..f3 straight through as red, green, blue and alpha, by four
    // pass-through tables of 0 entries.
    static ULMClassifier DirectRGBA(ULMFieldNumber f0, ULMFieldNumber f1, ULMFieldNumber f2,
                                    ULMFieldNumber f3);

    bool IsValid() const;

    // A null table removes table inIndex. A table index outside 0..3 or a bad
    // field number: kULMErrArgument.
    ULMStatus SetLookupTable(int inIndex, ULMLookupTable* inTable, ULMFieldNumber inSource);
    // Borrowed: the classifier keeps its reference. Null outside 0..3.
    ULMLookupTable* GetLookupTable(int inIndex) const;
    ULMFieldNumber GetLookupTableSource(int inIndex) const;

    // An index outside 0..2, or an opcode above 63: kULMErrArgument.
    ULMStatus SetOperation(int inIndex, const ULMOperation& inOperation);
    ULMOperation GetOperation(int inIndex) const;

    InterpolationOrder GetInterpolationOrder() const { return m_order; }
    ULMStatus SetInterpolationOrder(InterpolationOrder inOrder);
    // kULMNearestNeighbor for a field number outside 0..3.
    ULMInterpolationMode GetInterpolationMode(ULMFieldNumber inField) const;
    ULMStatus SetInterpolationMode(ULMFieldNumber inField, ULMInterpolationMode inMode);

    // Same tables (by identity), sources, operations, order, modes and
    // validity.
    bool operator==(const ULMClassifier& other) const;

private:
    friend class ULMClassifierInternal;

    void ReleaseTables();

    ULMLookupTable* m_table[kTables] = {};
    ULMFieldNumber m_source[kTables] = {kULMField0, kULMField1, kULMField2, kULMField3};
    ULMOperation m_operation[kOperations];
    InterpolationOrder m_order = kInterpolateFirst;
    ULMInterpolationMode m_mode[kTables] = {kULMTrilinear, kULMTrilinear, kULMTrilinear, kULMTrilinear};
    bool m_broken = false;
};

}  // namespace ulm3
