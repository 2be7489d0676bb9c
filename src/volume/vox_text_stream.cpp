#include "volume/vox_text_stream.h"

#include <locale.h>
#include <stdlib.h>

#include <cmath>

namespace ulm3 {

namespace {

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

int HexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Numbers in volume files always use a decimal point, whatever locale the
// application has chosen.
locale_t CLocale() {
    static const locale_t sLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return sLocale;
}

}  // namespace

bool VoxTextStream::RestIsBlank() const {
    for (size_t i = m_pos; i < m_text.size(); ++i) {
        if (!IsWhite(static_cast<unsigned char>(m_text[i]))) return false;
    }
    return true;
}

void VoxTextStream::SkipWhite() {
    while (!AtEnd() && IsWhite(Peek())) ++m_pos;
}

bool VoxTextStream::IsFirstNoBlankChar(char c) {
    while (Peek() == ' ' || Peek() == '\t') ++m_pos;
    if (Peek() == static_cast<unsigned char>(c)) {
        ++m_pos;
        return true;
    }
    return false;
}

VoxTextStream::Word VoxTextStream::ReadWord(std::string& outWord, size_t inMaxLength) {
    outWord.clear();
    SkipWhite();
    const size_t start = m_pos;
    while (!AtEnd() && !IsWhite(Peek())) ++m_pos;
    if (m_pos == start) return Word::kNone;
    if (m_pos - start > inMaxLength) return Word::kTooLong;
    outWord.assign(m_text, start, m_pos - start);
    return Word::kOK;
}

bool VoxTextStream::ReadWordOrQuotedString(std::string& outValue, bool* outQuoted) {
    outValue.clear();
    if (outQuoted) *outQuoted = false;
    while (Peek() == ' ' || Peek() == '\t') ++m_pos;
    if (Peek() == '"') {
        if (outQuoted) *outQuoted = true;
        const size_t open = m_pos + 1;
        const size_t close = m_text.find_first_of("\"\n", open);
        if (close == std::string::npos || m_text[close] != '"') {
            m_pos = m_text.size();
            return false;
        }
        outValue.assign(m_text, open, close - open);
        m_pos = close + 1;
        return !outValue.empty();
    }
    const size_t start = m_pos;
    while (!AtEnd() && Peek() != ' ' && Peek() != '\n') ++m_pos;
    outValue.assign(m_text, start, m_pos - start);
    return !outValue.empty();
}

std::string VoxTextStream::RestOfLine() const {
    const size_t end = m_text.find('\n', m_pos);
    return m_text.substr(m_pos, end == std::string::npos ? std::string::npos : end - m_pos);
}

bool VoxTextStream::ReadRestOfLine(std::string& outValue) {
    while (Peek() == ' ' || Peek() == '\t') ++m_pos;
    outValue = RestOfLine();
    m_pos += outValue.size();
    return !outValue.empty();
}

bool VoxTextStream::ReadInteger(int64_t inMin, int64_t inMax, int64_t& outValue, bool inAllowMinus) {
    SkipWhite();
    bool negative = false;
    if (Peek() == '+' || Peek() == '-') {
        negative = Peek() == '-';
        if (negative && !inAllowMinus) return false;
        ++m_pos;
    }
    if (!IsDigit(Peek())) return false;
    // Anything beyond this is out of every range the format uses.
    constexpr int64_t kLimit = int64_t{1} << 62;
    int64_t magnitude = 0;
    bool tooLarge = false;
    while (IsDigit(Peek())) {
        if (magnitude > (kLimit - 9) / 10) tooLarge = true;
        if (!tooLarge) magnitude = magnitude * 10 + (Peek() - '0');
        ++m_pos;
    }
    if (tooLarge) return false;
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < inMin || value > inMax) return false;
    outValue = value;
    return true;
}

bool VoxTextStream::ReadHex(uint32_t& outValue) {
    SkipWhite();
    if (Peek() == '+') ++m_pos;
    if (Peek() == '0' && m_pos + 1 < m_text.size() && (m_text[m_pos + 1] == 'x' || m_text[m_pos + 1] == 'X')) {
        m_pos += 2;
    }
    if (HexValue(Peek()) < 0) return false;
    uint64_t value = 0;
    while (HexValue(Peek()) >= 0) {
        value = value * 16 + static_cast<uint64_t>(HexValue(Peek()));
        if (value > UINT32_MAX) return false;
        ++m_pos;
    }
    outValue = static_cast<uint32_t>(value);
    return true;
}

bool VoxTextStream::ReadReal(double& outValue) {
    SkipWhite();
    const size_t start = m_pos;
    if (Peek() == '+' || Peek() == '-') ++m_pos;
    size_t digits = 0;
    while (IsDigit(Peek())) {
        ++m_pos;
        ++digits;
    }
    if (Peek() == '.') {
        ++m_pos;
        while (IsDigit(Peek())) {
            ++m_pos;
            ++digits;
        }
    }
    if (digits == 0) return false;
    if (Peek() == 'e' || Peek() == 'E') {
        ++m_pos;
        if (Peek() == '+' || Peek() == '-') ++m_pos;
        if (!IsDigit(Peek())) return false;
        while (IsDigit(Peek())) ++m_pos;
    }
    const std::string token = m_text.substr(start, m_pos - start);
    char* end = nullptr;
    const double value = strtod_l(token.c_str(), &end, CLocale());
    if (end != token.c_str() + token.size() || !std::isfinite(value)) return false;
    outValue = value;
    return true;
}

}  // namespace ulm3
