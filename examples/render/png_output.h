// The picture file of ulm3_render: written under a temporary name beside
// the target and renamed onto it only once whole, so that a failed run never
// leaves a partial PNG behind.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ulm3_render {

class PngOutput {
public:
    PngOutput() = default;
    PngOutput(const PngOutput&) = delete;
    PngOutput& operator=(const PngOutput&) = delete;
    // Removes the temporary file unless Commit renamed it.
    ~PngOutput();

    // Creates the temporary file; false, with the reason, when the target's
    // folder cannot take it.
    bool Open(const std::string& inTarget, std::string& outReason);
    // Square RGBA8 pixels, rows bottom-up as the camera's window counts them;
    // writes them as an RGB PNG and renames the file onto the target.
    bool Commit(const std::vector<uint32_t>& inPixels, unsigned inSize, std::string& outReason);

private:
    std::string m_target;
    std::string m_temporary;
    FILE* m_file = nullptr;
};

}  // namespace ulm3_render
