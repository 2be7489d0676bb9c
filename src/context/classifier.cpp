// The classifier value: four shared lookup tables, their source fields, the
// three combining operations and the interpolation settings.
#include "ulm3/classifier.h"

#include "context/lookup_table_internal.h"
#include "foundation/enumeration_checks.h"

namespace ulm3 {

namespace {

bool ValidOperation(const ULMOperation& op) {
    const uint32_t w = op.m_opcodes;
    for (int b = 0; b < 4; ++b)
        if ((w >> (8 * b) & 0xFF) > kULM_One_Minus_8X_OneMinusA_Times_OneMinusB) return false;
    return true;
}

// Tables 0 and 1 give red and green (operation 0), tables 2 and 3 blue and
// alpha (operation 1), and operation 2 takes red and green from the first
// and blue and alpha from the second.
const ULMOperation kDirectOperations[ULMClassifier::kOperations] = {
    ULMOperation(kULM_A, kULM_B, kULM_Zero, kULM_Zero),
    ULMOperation(kULM_Zero, kULM_Zero, kULM_A, kULM_B),
    ULMOperation(kULM_A, kULM_A, kULM_B, kULM_B),
};

}  // namespace

ULMClassifier::ULMClassifier() {
    for (int i = 0; i < kOperations; ++i) m_operation[i] = kDirectOperations[i];
}

ULMClassifier::ULMClassifier(const ULMClassifier& other) : m_order(other.m_order), m_broken(other.m_broken) {
    for (int i = 0; i < kTables; ++i) {
        m_table[i] = other.m_table[i];
        if (m_table[i]) m_table[i]->AddRef();
        m_source[i] = other.m_source[i];
        m_mode[i] = other.m_mode[i];
    }
    for (int i = 0; i < kOperations; ++i) m_operation[i] = other.m_operation[i];
}

ULMClassifier& ULMClassifier::operator=(const ULMClassifier& other) {
    if (this == &other) return *this;
    // Referenced before the old tables go, in case they are the same.
    for (int i = 0; i < kTables; ++i)
        if (other.m_table[i]) other.m_table[i]->AddRef();
    ReleaseTables();
    for (int i = 0; i < kTables; ++i) {
        m_table[i] = other.m_table[i];
        m_source[i] = other.m_source[i];
        m_mode[i] = other.m_mode[i];
    }
    for (int i = 0; i < kOperations; ++i) m_operation[i] = other.m_operation[i];
    m_order = other.m_order;
    m_broken = other.m_broken;
    return *this;
}

ULMClassifier::~ULMClassifier() { ReleaseTables(); }

void ULMClassifier::ReleaseTables() {
    for (ULMLookupTable*& table : m_table) {
        if (table) table->Release();
        table = nullptr;
    }
}

ULMClassifier ULMClassifier::DirectRGBA(ULMFieldNumber f0, ULMFieldNumber f1, ULMFieldNumber f2,
                                        ULMFieldNumber f3) {
    ULMClassifier c;
    const ULMFieldNumber fields[kTables] = {f0, f1, f2, f3};
    for (int i = 0; i < kTables; ++i) {
        ULMLookupTable* table =
            IsValidVoxelFieldNumber(fields[i]) ? ULMLookupTable::Create(0, nullptr) : nullptr;
        if (!table) {
            c.ReleaseTables();
            c.m_broken = true;
            return c;
        }
        c.m_table[i] = table;  // adopts the reference of Create
        c.m_source[i] = fields[i];
    }
    return c;
}

bool ULMClassifier::IsValid() const {
    if (m_broken) return false;
    for (int i = 0; i < kTables; ++i) {
        if (!m_table[i]) continue;
        const unsigned n = m_table[i]->GetSize();
        const bool fits = n == 0 || n == 256 || (i == kTables - 1 && n == 4096);
        if (!fits) return false;
    }
    return true;
}

ULMStatus ULMClassifier::SetLookupTable(int inIndex, ULMLookupTable* inTable, ULMFieldNumber inSource) {
    if (inIndex < 0 || inIndex >= kTables || !IsValidVoxelFieldNumber(inSource)) return kULMErrArgument;
    if (inTable) inTable->AddRef();
    if (m_table[inIndex]) m_table[inIndex]->Release();
    m_table[inIndex] = inTable;
    m_source[inIndex] = inSource;
    return kULMOK;
}

ULMLookupTable* ULMClassifier::GetLookupTable(int inIndex) const {
    return inIndex < 0 || inIndex >= kTables ? nullptr : m_table[inIndex];
}

ULMFieldNumber ULMClassifier::GetLookupTableSource(int inIndex) const {
    return inIndex < 0 || inIndex >= kTables ? kULMField0 : m_source[inIndex];
}

ULMStatus ULMClassifier::SetOperation(int inIndex, const ULMOperation& inOperation) {
    if (inIndex < 0 || inIndex >= kOperations || !ValidOperation(inOperation)) return kULMErrArgument;
    m_operation[inIndex] = inOperation;
    return kULMOK;
}

ULMOperation ULMClassifier::GetOperation(int inIndex) const {
    return inIndex < 0 || inIndex >= kOperations ? ULMOperation() : m_operation[inIndex];
}

ULMStatus ULMClassifier::SetInterpolationOrder(InterpolationOrder inOrder) {
    if (inOrder != kInterpolateFirst && inOrder != kClassifyFirst) return kULMErrArgument;
    m_order = inOrder;
    return kULMOK;
}

ULMInterpolationMode ULMClassifier::GetInterpolationMode(ULMFieldNumber inField) const {
    return IsValidVoxelFieldNumber(inField) ? m_mode[inField] : kULMNearestNeighbor;
}

ULMStatus ULMClassifier::SetInterpolationMode(ULMFieldNumber inField, ULMInterpolationMode inMode) {
    if (!IsValidVoxelFieldNumber(inField) || !ValidInterpolationMode(inMode)) return kULMErrArgument;
    m_mode[inField] = inMode;
    return kULMOK;
}

bool ULMClassifier::operator==(const ULMClassifier& other) const {
    for (int i = 0; i < kTables; ++i)
        if (m_table[i] != other.m_table[i] || m_source[i] != other.m_source[i] ||
            m_mode[i] != other.m_mode[i])
            return false;
    for (int i = 0; i < kOperations; ++i)
        if (!(m_operation[i] == other.m_operation[i])) return false;
    return m_order == other.m_order && m_broken == other.m_broken;
}

}  // namespace ulm3
