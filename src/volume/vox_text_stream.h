// A read position inside one line of header text, with the word and number
// readers of the volume file's header syntax.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ulm3 {

class VoxTextStream {
public:
    enum class Word { kOK, kNone, kTooLong };

    VoxTextStream() = default;
    explicit VoxTextStream(std::string inText) : m_text(std::move(inText)) {}

    void Assign(std::string inText) {
        m_text = std::move(inText);
        m_pos = 0;
    }
    bool AtEnd() const { return m_pos >= m_text.size(); }
    // -1 at the end.
    int Peek() const { return AtEnd() ? -1 : static_cast<unsigned char>(m_text[m_pos]); }
    void Advance() {
        if (!AtEnd()) ++m_pos;
    }
    // Only white space is left.
    bool RestIsBlank() const;
    std::string_view Rest() const { return std::string_view(m_text).substr(m_pos); }

    static bool IsWhite(int c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }
    void SkipWhite();

    // Consumes spaces and tabs; true, with c consumed, when c comes next.
    bool IsFirstNoBlankChar(char c);

    // A word after white space, ended by white space. A word longer than
    // inMaxLength is refused, never cut.
    Word ReadWord(std::string& outWord, size_t inMaxLength);
    // After spaces and tabs: a "quoted string" closed on this line, or a
    // word ended by a space or a newline (tabs belong to the word). False
    // when that gives nothing. outQuoted tells which form it was.
    bool ReadWordOrQuotedString(std::string& outValue, bool* outQuoted = nullptr);
    // After spaces and tabs, the rest of the line without its newline; false
    // when that is empty.
    bool ReadRestOfLine(std::string& outValue);
    // The rest of the line without its newline (nothing skipped).
    std::string RestOfLine() const;

    // Numbers as a stream reads them: white space skipped, then the longest
    // well-formed prefix; a value outside the given bounds fails. inAllowMinus
    // false refuses a leading minus sign.
    bool ReadInteger(int64_t inMin, int64_t inMax, int64_t& outValue, bool inAllowMinus = true);
    // Optional "0x" prefix, hexadecimal digits, at most 32 bits.
    bool ReadHex(uint32_t& outValue);
    // A finite decimal real number, in plain or exponent notation.
    bool ReadReal(double& outValue);

private:
    std::string m_text;
    size_t m_pos = 0;
};

}  // namespace ulm3
