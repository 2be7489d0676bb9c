// The board buffers of the tables renders read (lookup tables, light maps,
// gradient and alpha-correction tables) go back to their board as soon as
// the library will queue no more work on them: the driver keeps a buffer's
// storage for the work already queued on it, so its board memory comes back
// once that work is done, whatever the application calls next. A buffer's
// load reads host words when it runs; those stay here until it has.
#pragma once

#include <cstdint>
#include <vector>

namespace ulm3 {

class KWBBoard;
class KWBBuffer;

// Gives inBuffer (null: nothing) back to inBoard now; inWords, which its
// load reads, stay until that load has run. Frees the words of the other
// loads that have run meanwhile.
void ULMReturnTableBuffer(KWBBoard* inBoard, KWBBuffer* inBuffer, std::vector<uint64_t> inWords);

// Waits for the loads whose words are still kept and frees them all: run
// by the library's close, before the boards close.
void ULMFreeTableWords();

}  // namespace ulm3
