#include "ui/PromptLayout.h"

namespace tarvex {

namespace {

constexpr PromptButton kQuestionButtons[] = {
    {kPromptOkControl, kPictureOk, kPictureOkHighlighted, {60, 90, 70, 22}, "OK"},
    {kPromptCancelControl, kPictureCancel, kPictureCancelHighlighted, {170, 90, 70, 22}, "CANCEL"},
};
constexpr PromptButton kNoticeButtons[] = {
    {kPromptOkControl, kPictureOk, kPictureOkHighlighted, {214, 90, 70, 22}, "OK"},
};

}  // namespace

std::span<const PromptButton> PromptButtons(bool question) {
    if (question) {
        return kQuestionButtons;
    }
    return kNoticeButtons;
}

}  // namespace tarvex
