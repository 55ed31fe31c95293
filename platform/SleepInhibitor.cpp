#include "platform/SleepInhibitor.h"

namespace tarvex {

const char* ToString(SleepBlockError error) {
    switch (error) {
        case SleepBlockError::None:
            return "none";
        case SleepBlockError::NoSystemBus:
            return "no system bus";
        case SleepBlockError::NoService:
            return "no sleep service";
        case SleepBlockError::Refused:
            return "refused";
        case SleepBlockError::NoAnswer:
            return "no answer";
    }
    return "unknown";
}

}  // namespace tarvex
