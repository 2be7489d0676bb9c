// Opens the library from an installed tree and prints the boards it finds.
#include <cstdio>

#include <ulm3.h>

int main() {
    const ulm3::ULMStatus status = ulm3::ULMOpen();
    if (ulm3::ULMFailed(status)) {
        std::fprintf(stderr, "ulm3_consumer: %s\n", ulm3::UlmGetStatusString(status));
        return 1;
    }
    const int boards = ulm3::ULMConfiguration::GetNumberOfBoards();
    std::printf("%s: %d board(s)\n",
                ulm3::ULMConfiguration::GetVersionString(ulm3::ULMConfiguration::kULMVersion), boards);
    ulm3::ULMClose();
    return boards > 0 ? 0 : 1;
}
