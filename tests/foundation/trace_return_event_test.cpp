// The trace line that names the status of a returned sync event.
#include <gtest/gtest.h>

#include "board/kwb_sync_event.h"
#include "foundation/diagnostics.h"
#include "foundation/log_capture.h"

using namespace ulm3;
using ulm3::testing_support::kFirstStamps;
using ulm3::testing_support::LogToFile;

TEST(TraceReturnEvent, NamesTheStatusTheEventReports) {
    LogToFile log;
    UlmTraceReturnEvent(ULMSyncEvent(kULMErrArgument), "/src/volume/volume.cpp", 12, nullptr);
    UlmTraceReturnEvent(KWBSyncEvent(1, KWBSyncEvent::kRenderQueue, 9), "board.cpp", 7, "Render");
    EXPECT_EQ(log.Contents(),
              std::string(kFirstStamps) +
                  "$RET$ event status " + UlmGetStatusString(kULMErrArgument) +
                  " (1004) from file volume.cpp line 12\n"
                  "$RET$ event status " + UlmGetStatusString(kULMInProgress) +
                  " (4) from file board.cpp line 7 function Render\n");
}
