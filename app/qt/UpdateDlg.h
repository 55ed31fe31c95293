#pragma once
// CUpdateDlg: the updater's one window. Four controls (the instruction text 115, the firmware
// version text 116, the progress bar 119 and the update button 123) and the engine's window
// interface: the engine decides, the dialog shows. The button's state, the version text and
// the progress change only through the CUpdateView calls.
//
// Threads: built and driven on the window's thread. The CUpdateView calls may come from any
// thread: control changes are carried to the window's thread in the order they were made;
// questions (prompt, file dialog, success box) wait for the user's answer on the calling
// worker while the window keeps running.
//
// Closing (the close box, or done() from code) answers every open question as cancelled, takes
// the question windows away, stops watching device notices and stops and joins the engine's
// workers. Whoever owns the engine must let that happen (or call Shutdown itself after
// CancelQuestions) before the dialog is destroyed.

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "app/QuestionRelay.h"
#include "app/qt/WindowThreadQueue.h"
#include "platform/DeviceNoticeSource.h"
#include "platform/UiLanguage.h"
#include "ui/qt/WindowDragger.h"
#include "update/UpdateEngine.h"
#include "update/UpdateView.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QSocketNotifier;

namespace tarvex {

class CUpdateDlg final : public QDialog, public CUpdateView {
public:
    explicit CUpdateDlg(const CUiLanguage& language, QWidget* parent = nullptr);
    ~CUpdateDlg() override;
    CUpdateDlg(const CUpdateDlg&) = delete;
    CUpdateDlg& operator=(const CUpdateDlg&) = delete;

    // Window thread, once: the engine the button drives and the device notices to follow
    // (null, or a source without a descriptor, when there are none). Runs the engine's
    // start-up detection now, so that the first picture of the window shows the button as
    // detection left it; the version query it calls for starts once the window has been
    // painted.
    void Start(CUpdateEngine& engine, CDeviceNoticeSource* notices);

    // Window thread: runs `work` on the window's thread after the window has been painted for
    // the first time (soon, if it has been already), unless the window has closed by then.
    // For what the first picture does not need.
    void AfterFirstPaint(std::function<void()> work);

    // --- CUpdateView, any thread ---
    void EnableUpdateButton(bool enable) override;
    void SetVersionText(const std::string& text) override;
    void SetProgress(unsigned position) override;
    int ShowPrompt(const std::string& text, int mode) override;
    void ShowSuccessBox(const std::string& text, const std::string& caption) override;
    std::optional<std::filesystem::path> AskImagePath(
        const std::string& filter, const std::filesystem::path& initialFolder) override;
    void OnUpdateRunEnded(UpdateOutcome outcome) override;
    // The wait shows in place of the instructions until the run's result comes.
    void ShowDriveVolumeWait(std::chrono::seconds limit) override;
    void ShowDriveMountStep(const DriveMountNotice& notice) override;
    // The failure text with the reason on a line of its own, in the prompt.
    int ShowFailureNotice(const std::string& text, const std::string& reason) override;

    // Window thread: answers every open question as cancelled, now and from now on.
    void CancelQuestions();
    std::size_t OpenQuestions() const { return m_Relay.OpenCount(); }
    // Control changes and questions carried to the window's thread so far.
    std::size_t WindowThreadCalls() const { return m_WindowThread.CallsRun(); }

    // The controls, by their ids' names.
    QPushButton* UpdateButton() const { return m_pUpdateButton; }
    QProgressBar* Progress() const { return m_pProgress; }
    QLabel* VersionText() const { return m_pVersionText; }
    QLabel* InstructionText() const { return m_pInstructionText; }

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void BindControls();
    void LayOutControls();
    void ApplyUpdateButtonState(bool enable);
    // Puts the instructions back where a drive copy's wait for its volume was shown.
    void EndVolumeWait();
    void OnUsbUpdate();
    void OnDeviceNotices();
    void CloseDown();
    void RunFirstPaintWork();
    void ShowPromptWindow(const std::shared_ptr<CQuestion>& question, const QString& text,
                          int mode);

    const CUiLanguage& m_Language;
    CWindowThreadQueue m_WindowThread;
    CQuestionRelay m_Relay{m_WindowThread};
    CWindowDragger m_Dragger{*this};

    QPushButton* m_pUpdateButton = nullptr;  // control 123; the widgets are owned as children
    QProgressBar* m_pProgress = nullptr;     // control 119
    QLabel* m_pVersionText = nullptr;        // control 116
    QLabel* m_pInstructionText = nullptr;    // control 115

    CUpdateEngine* m_pEngine = nullptr;
    CDeviceNoticeSource* m_pNotices = nullptr;
    QSocketNotifier* m_pNoticeWatch = nullptr;
    bool m_bClosed = false;
    bool m_bShowingVolumeWait = false;  // window thread only
    bool m_bPainted = false;
    std::vector<std::function<void()>> m_FirstPaintWork;
    // The last progress sent to the window's thread: one update per percent, not per chunk.
    std::atomic<unsigned> m_PostedProgress{0};
};

}  // namespace tarvex
