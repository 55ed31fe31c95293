#pragma once
// A window that records what the engine shows and answers its questions as a test says, and a
// fixture with the engine over the virtual device.

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>

#include "hid/Hid.h"
#include "sim/SampleImage.h"
#include "sim/VirtualHidPort.h"
#include "tests/update/FakeRunGuards.h"
#include "update/UpdateEngine.h"

namespace tarvex {
// Outcomes by name in failure messages.
inline void PrintTo(UpdateOutcome outcome, std::ostream* out) {
    *out << ToString(outcome);
}
}  // namespace tarvex

namespace tarvex::testing {

// Bound for waits on the engine's threads; a guard against hangs, never a measured time.
inline constexpr std::chrono::seconds kHangGuard{20};
// The bound a test states for a run that must end (or a thing that must happen) at the
// virtual device's pace, which takes milliseconds: generous, never a measurement, and well
// below the engine's own silence limit, so that a run that hangs fails here, with what was
// seen, rather than ending some other way.
inline constexpr std::chrono::seconds kRunBound{5};

struct Prompt {
    std::string Text;
    int Mode;
};

class CRecordingView final : public CUpdateView {
public:
    // --- answers and hooks, set before a run ---
    std::optional<std::filesystem::path> ImageAnswer;
    int QuestionAnswer = kPromptOk;
    std::function<void(unsigned)> OnProgress;
    std::function<void()> OnQuestion;
    std::function<void(bool)> OnButton;  // after the change is recorded
    std::function<void()> OnSuccessBox;  // inside the box, after it is recorded: may block
    std::function<void(const std::string&)> OnNotice;  // likewise, inside a notice
    std::function<void()> OnImageAsked;                // inside the file dialog, before it answers

    void EnableUpdateButton(bool enable) override {
        {
            std::lock_guard lock(m_Lock);
            m_Buttons.push_back(enable);
        }
        if (OnButton) {
            OnButton(enable);
        }
    }
    void SetVersionText(const std::string& text) override {
        std::lock_guard lock(m_Lock);
        m_VersionTexts.push_back(text);
        m_Changed.notify_all();
    }
    void SetProgress(unsigned position) override {
        {
            std::lock_guard lock(m_Lock);
            m_Progress.push_back(position);
        }
        if (OnProgress) {
            OnProgress(position);
        }
    }
    int ShowPrompt(const std::string& text, int mode) override {
        {
            std::lock_guard lock(m_Lock);
            m_Prompts.push_back({text, mode});
        }
        if (mode == kPromptNotice && OnNotice) {
            OnNotice(text);
        }
        if (mode == kPromptQuestion) {
            if (OnQuestion) {
                OnQuestion();
            }
            return QuestionAnswer;
        }
        return kPromptOk;
    }
    int ShowFailureNotice(const std::string& text, const std::string& reason) override {
        {
            std::lock_guard lock(m_Lock);
            m_FailureReasons.push_back(reason);
        }
        return ShowPrompt(text, kPromptNotice);
    }
    void ShowDriveVolumeWait(std::chrono::seconds limit) override {
        std::lock_guard lock(m_Lock);
        m_VolumeWaits.push_back(limit);
    }
    void ShowDriveMountStep(const DriveMountNotice& notice) override {
        std::lock_guard lock(m_Lock);
        m_MountSteps.push_back(notice);
    }
    void ShowSuccessBox(const std::string& text, const std::string& caption) override {
        {
            std::lock_guard lock(m_Lock);
            m_SuccessBoxes.push_back({text, caption});
        }
        if (OnSuccessBox) {
            OnSuccessBox();
        }
    }
    std::optional<std::filesystem::path> AskImagePath(const std::string& filter,
                                                      const std::filesystem::path&) override {
        {
            std::lock_guard lock(m_Lock);
            m_Filters.push_back(filter);
        }
        if (OnImageAsked) {
            OnImageAsked();
        }
        std::lock_guard lock(m_Lock);
        return ImageAnswer;
    }
    void OnUpdateRunEnded(UpdateOutcome outcome) override {
        std::lock_guard lock(m_Lock);
        m_Outcomes.push_back(outcome);
        m_Changed.notify_all();
    }

    // Waits for the next run to end; empty if none did within `bound`.
    std::optional<UpdateOutcome> WaitForRunEnd(std::chrono::milliseconds bound = kHangGuard) {
        std::unique_lock lock(m_Lock);
        const std::size_t seen = m_OutcomesTaken;
        if (!m_Changed.wait_for(lock, bound, [&] { return m_Outcomes.size() > seen; })) {
            return std::nullopt;
        }
        return m_Outcomes[m_OutcomesTaken++];
    }
    // Waits for `text` among the version texts. Fails as soon as the device's version has been
    // shown as anything else, naming what was shown, rather than waiting out the guard.
    ::testing::AssertionResult WaitForVersionText(const std::string& text) {
        std::unique_lock lock(m_Lock);
        const auto shown = [&] {
            return std::find(m_VersionTexts.begin(), m_VersionTexts.end(), text) !=
                   m_VersionTexts.end();
        };
        const auto anyVersion = [&] {
            return std::any_of(m_VersionTexts.begin(), m_VersionTexts.end(),
                               [](const std::string& t) { return !t.empty(); });
        };
        m_Changed.wait_for(lock, kHangGuard, [&] { return shown() || anyVersion(); });
        if (shown()) {
            return ::testing::AssertionSuccess();
        }
        auto failure = ::testing::AssertionFailure() << "wanted " << text << ", version texts:";
        for (const auto& t : m_VersionTexts) {
            failure << " '" << t << "'";
        }
        return failure;
    }

    std::vector<Prompt> Prompts() const { return Locked(m_Prompts); }
    std::vector<std::pair<std::string, std::string>> SuccessBoxes() const {
        return Locked(m_SuccessBoxes);
    }
    std::vector<unsigned> Progress() const { return Locked(m_Progress); }
    std::vector<bool> Buttons() const { return Locked(m_Buttons); }
    std::vector<std::string> VersionTexts() const { return Locked(m_VersionTexts); }
    std::vector<std::string> Filters() const { return Locked(m_Filters); }
    // The reasons given with drive-copy failure notices, in order.
    std::vector<std::string> FailureReasons() const { return Locked(m_FailureReasons); }
    std::vector<std::chrono::seconds> VolumeWaits() const { return Locked(m_VolumeWaits); }
    std::vector<DriveMountNotice> MountSteps() const { return Locked(m_MountSteps); }
    std::size_t RunsEnded() const { return Locked(m_Outcomes).size(); }

private:
    template <typename T>
    T Locked(const T& value) const {
        std::lock_guard lock(m_Lock);
        return value;
    }

    mutable std::mutex m_Lock;
    std::condition_variable m_Changed;
    std::vector<Prompt> m_Prompts;
    std::vector<std::pair<std::string, std::string>> m_SuccessBoxes;
    std::vector<unsigned> m_Progress;
    std::vector<bool> m_Buttons;
    std::vector<std::string> m_VersionTexts;
    std::vector<std::string> m_Filters;
    std::vector<std::string> m_FailureReasons;
    std::vector<std::chrono::seconds> m_VolumeWaits;
    std::vector<DriveMountNotice> m_MountSteps;
    std::vector<UpdateOutcome> m_Outcomes;
    std::size_t m_OutcomesTaken = 0;
};

// A steady clock that moves only when the test moves it: the engine's time limits then come at
// the test's word, at their real length, without the test waiting for them.
class CManualClock {
public:
    std::chrono::steady_clock::time_point Now() const {
        return m_Start + std::chrono::nanoseconds(m_ElapsedNs.load());
    }
    void Advance(std::chrono::nanoseconds by) { m_ElapsedNs += by.count(); }
    SteadyNow AsNow() {
        return [this] { return Now(); };
    }

private:
    const std::chrono::steady_clock::time_point m_Start = std::chrono::steady_clock::now();
    std::atomic<std::int64_t> m_ElapsedNs{0};
};

// Waits until `condition` holds; false if it never did within `bound`.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound = kHangGuard);

class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes an image made from `spec` and makes it the file dialog's answer.
    std::filesystem::path UseImage(const sim::SampleImageSpec& spec);
    // Presses the update button and waits for the run's end, at most `bound`; a run still going
    // then is a failure that says what the device saw.
    std::optional<UpdateOutcome> RunUpdate(std::chrono::milliseconds bound = kRunBound);
    std::size_t HeaderCount() const;
    // What the device received and the window showed, for failure messages.
    std::string WhatWasSeen() const;

    std::filesystem::path m_Folder;
    std::shared_ptr<sim::CVirtualUpdateDevice> m_pDevice =
        std::make_shared<sim::CVirtualUpdateDevice>();
    sim::CVirtualHidPort m_Port;
    sim::CVirtualUsbDeviceList m_Usb;
    CHid m_Hid{m_Port, m_Usb};
    CRecordingView m_View;
    CFixedUiLanguage m_Language{kLanguageEnglishUs};
    std::unique_ptr<CUpdateEngine> m_pEngine;
};

}  // namespace tarvex::testing
