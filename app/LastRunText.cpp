#include "app/LastRunText.h"

namespace tarvex {

std::string LastRunText(const CRunHistory* history, const CRecordingUpdateView& recorder) {
    if (history != nullptr) {
        if (const auto last = history->Last()) {
            return ReadableDetails(*last);
        }
    }
    if (const auto last = recorder.LastRecord()) {
        return ReadableDetails(*last);
    }
    return {};
}

}  // namespace tarvex
