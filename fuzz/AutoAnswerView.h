#pragma once
// A window for the fuzz targets: the file dialog returns the path it was given (nothing when the
// path is empty), every question is answered OK, and the success messages are counted so that a
// target can check each against what the device really received.
//
// Threads: the fuzz targets drive the engine from their own thread only; nothing is locked.

#include <filesystem>
#include <optional>
#include <string>

#include "ui/LocalizedText.h"
#include "update/UpdateView.h"

namespace tarvex::fuzz {

class CAutoAnswerView final : public CUpdateView {
public:
    explicit CAutoAnswerView(std::filesystem::path image) : m_Image(std::move(image)) {}

    void EnableUpdateButton(bool) override {}
    void SetVersionText(const std::string&) override {}
    void SetProgress(unsigned) override {}
    int ShowPrompt(const std::string& text, int mode) override {
        if (mode == kPromptNotice &&
            text == LoadLocalizedString(kTextSuccess, kLanguageEnglishUs)) {
            ++SuccessPrompts;
        }
        return kPromptOk;
    }
    void ShowSuccessBox(const std::string&, const std::string&) override { ++SuccessBoxes; }
    std::optional<std::filesystem::path> AskImagePath(const std::string&,
                                                      const std::filesystem::path&) override {
        return m_Image.empty() ? std::nullopt : std::optional(m_Image);
    }
    void OnUpdateRunEnded(UpdateOutcome) override {}

    int SuccessPrompts = 0;  // the memory reply's success notice (mode 0, text 26)
    int SuccessBoxes = 0;    // the transfer's success box

private:
    std::filesystem::path m_Image;
};

}  // namespace tarvex::fuzz
