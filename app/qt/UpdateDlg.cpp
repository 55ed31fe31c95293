#include "app/qt/UpdateDlg.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <algorithm>

#include "ui/DialogKeys.h"
#include "ui/DialogLayout.h"
#include "ui/LocalizedText.h"
#include "ui/PromptPlacement.h"
#include "ui/qt/PromptDlg.h"
#include "ui/qt/QtDialogUnits.h"
#include "ui/qt/QtFileFilter.h"
#include "ui/qt/QtGeometry.h"
#include "ui/qt/QtKeys.h"
#include "ui/qt/UiFonts.h"
#include "update/DeviceNoticePump.h"

namespace tarvex {

namespace {

constexpr const char* kCaptionSuffix = "V1.0";
constexpr unsigned kProgressMaximum = 100;

// Ends a question's window as its cancel would, unless the window has gone already.
template <typename Window>
std::function<void()> Dismisser(Window* window, int result) {
    // Through QDialog: a subclass may have made done() protected.
    return [window = QPointer<Window>(window), result] {
        if (Window* alive = window.data(); alive != nullptr) {
            static_cast<QDialog*>(alive)->done(result);
        }
    };
}

bool IsSwallowedKey(int key) {
    return IsSwallowedByMainDialog(VirtualKeyOf(key));
}

// The text table keeps Windows line breaks; Qt breaks lines at LF alone.
QString FromTable(const std::string& text) {
    QString converted = QString::fromStdString(text);
    converted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return converted;
}

}  // namespace

CUpdateDlg::CUpdateDlg(const CUiLanguage& language, QWidget* parent)
    // A caption with the system menu and the close box, no other frame buttons, as designed.
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_Language(language) {
    // The window's icon comes from the application, set after the first paint (CUpdateApp).
    setFont(DialogFont());
    BindControls();
    LayOutControls();

    m_pInstructionText->setText(FromTable(LoadLocalizedString(kTextInstructions, m_Language)));
    m_pProgress->setRange(0, static_cast<int>(kProgressMaximum));
    m_pProgress->setValue(0);
    setWindowTitle(
        QString::fromStdString(LoadLocalizedString(kTextTitle, m_Language) + " " + kCaptionSuffix));
    m_pInstructionText->setFont(InstructionFont());

    connect(m_pUpdateButton, &QPushButton::clicked, this, [this] { OnUsbUpdate(); });
}

CUpdateDlg::~CUpdateDlg() {
    // Nothing may wait for this window any more.
    m_Relay.CancelAll();
}

void CUpdateDlg::BindControls() {
    m_pVersionText = new QLabel(this);
    m_pVersionText->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_pVersionText->setTextFormat(Qt::PlainText);

    m_pInstructionText = new QLabel(this);
    m_pInstructionText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pInstructionText->setTextFormat(Qt::PlainText);
    m_pInstructionText->setWordWrap(true);

    m_pProgress = new QProgressBar(this);
    m_pProgress->setTextVisible(false);
    m_pProgress->setAccessibleName(QStringLiteral("Progress"));

    m_pUpdateButton = new QPushButton(QStringLiteral("USB_Update"), this);
    ApplyUpdateButtonState(false);
    // Return must never press it (a QDialog's buttons default to that).
    m_pUpdateButton->setAutoDefault(false);
    m_pUpdateButton->setDefault(false);

    SetControlId(*m_pVersionText, kVersionTextControl);
    SetControlId(*m_pInstructionText, kInstructionTextControl);
    SetControlId(*m_pProgress, kProgressControl);
    SetControlId(*m_pUpdateButton, kUpdateButtonControl);

    installEventFilter(this);
    for (QWidget* control :
         {static_cast<QWidget*>(m_pVersionText), static_cast<QWidget*>(m_pInstructionText),
          static_cast<QWidget*>(m_pProgress), static_cast<QWidget*>(m_pUpdateButton)}) {
        control->installEventFilter(this);
    }
}

void CUpdateDlg::LayOutControls() {
    const MainDialogLayout layout = MainDialogPixels(BaseUnitsOf(QFontMetrics(font())));
    setFixedSize(ToQt(layout.Client));
    m_pVersionText->setGeometry(ToQt(layout.VersionText));
    m_pInstructionText->setGeometry(ToQt(layout.InstructionText));
    m_pProgress->setGeometry(ToQt(layout.Progress));
    m_pUpdateButton->setGeometry(ToQt(layout.UpdateButton));
}

void CUpdateDlg::Start(CUpdateEngine& engine, CDeviceNoticeSource* notices) {
    m_pEngine = &engine;
    m_pNotices = notices;
    if (notices != nullptr && notices->NoticeFd() >= 0) {
        // Notices arrive through the event loop when the descriptor polls readable; nothing
        // polls on a timer.
        m_pNoticeWatch = new QSocketNotifier(notices->NoticeFd(), QSocketNotifier::Read, this);
        connect(m_pNoticeWatch, &QSocketNotifier::activated, this, [this] { OnDeviceNotices(); });
    }
    engine.Initialise(CUpdateEngine::VersionQueryStart::WhenAsked);
    AfterFirstPaint([this] { m_pEngine->StartDueVersionQuery(); });
}

void CUpdateDlg::AfterFirstPaint(std::function<void()> work) {
    m_FirstPaintWork.push_back(std::move(work));
    if (m_bPainted) {
        QMetaObject::invokeMethod(
            this, [this] { RunFirstPaintWork(); }, Qt::QueuedConnection);
    }
}

void CUpdateDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (!m_bPainted) {
        m_bPainted = true;
        // Queued: it runs once this paint has reached the screen.
        QMetaObject::invokeMethod(
            this, [this] { RunFirstPaintWork(); }, Qt::QueuedConnection);
    }
}

void CUpdateDlg::RunFirstPaintWork() {
    std::vector<std::function<void()>> work;
    work.swap(m_FirstPaintWork);
    for (const auto& step : work) {
        if (m_bClosed) {
            return;
        }
        step();
    }
}

void CUpdateDlg::OnUsbUpdate() {
    if (m_pEngine != nullptr && !m_bClosed) {
        m_pEngine->OnUsbUpdate();
    }
}

void CUpdateDlg::OnDeviceNotices() {
    if (m_pEngine != nullptr && m_pNotices != nullptr && !m_bClosed) {
        DeliverDeviceNotices(*m_pNotices, *m_pEngine);
    }
}

// --- control changes ---

void CUpdateDlg::EnableUpdateButton(bool enable) {
    m_WindowThread.Post([this, enable] { ApplyUpdateButtonState(enable); });
}

void CUpdateDlg::ApplyUpdateButtonState(bool enable) {
    m_pUpdateButton->setEnabled(enable);
    // Qt gives a disabled widget's mouse presses to nobody; the dialog beneath must get them,
    // so that a press on the disabled button drags the dialog as a press on its surface does.
    m_pUpdateButton->setAttribute(Qt::WA_TransparentForMouseEvents, !enable);
}

void CUpdateDlg::SetVersionText(const std::string& text) {
    m_WindowThread.Post(
        [this, text = QString::fromStdString(text)] { m_pVersionText->setText(text); });
}

void CUpdateDlg::SetProgress(unsigned position) {
    // The engine may report past 100 after a last chunk that carries bytes past the payload.
    const unsigned shown = std::min(position, kProgressMaximum);
    if (m_PostedProgress.exchange(shown) == shown) {
        return;
    }
    m_WindowThread.Post([this, shown] { m_pProgress->setValue(static_cast<int>(shown)); });
}

void CUpdateDlg::OnUpdateRunEnded(UpdateOutcome) {
    // The run's end reaches the window through the button, the progress and the result's
    // prompt; only a wait for the volume that ended without either is taken down here.
    EndVolumeWait();
}

void CUpdateDlg::ShowDriveVolumeWait(std::chrono::seconds limit) {
    QString text = FromTable(LoadLocalizedString(kTextWaitingForVolume, m_Language));
    text.replace(QStringLiteral("%d"), QString::number(limit.count()));
    m_WindowThread.Post([this, text] {
        m_pInstructionText->setText(text);
        m_bShowingVolumeWait = true;
    });
}

void CUpdateDlg::ShowDriveMountStep(const DriveMountNotice& notice) {
    // Only the mount itself is shown: the copy follows at once, and a refusal ends the run with
    // its reason in the failure notice.
    if (notice.Step != DriveMountStep::Mounting) {
        return;
    }
    const QString text = FromTable(LoadLocalizedString(kTextMountingVolume, m_Language));
    m_WindowThread.Post([this, text] {
        m_pInstructionText->setText(text);
        m_bShowingVolumeWait = true;
    });
}

void CUpdateDlg::EndVolumeWait() {
    m_WindowThread.Post([this] {
        if (m_bShowingVolumeWait) {
            m_bShowingVolumeWait = false;
            m_pInstructionText->setText(
                FromTable(LoadLocalizedString(kTextInstructions, m_Language)));
        }
    });
}

// --- questions ---

int CUpdateDlg::ShowPrompt(const std::string& text, int mode) {
    const QString shownText = FromTable(text);
    const QuestionAnswer answer = m_Relay.Ask(
        [this, shownText, mode](const std::shared_ptr<CQuestion>& question) {
            ShowPromptWindow(question, shownText, mode);
        },
        QuestionAnswer{kPromptCancel, {}});
    return answer.Code;
}

void CUpdateDlg::ShowPromptWindow(const std::shared_ptr<CQuestion>& question, const QString& text,
                                  int mode) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        question->Answer({kPromptNotCreated, {}});
        return;
    }
    const QPoint position =
        ToQt(PromptPosition(FromQt(frameGeometry()), FromQt(screen->geometry().size())));
    auto* prompt = new CPromptDlg(this);
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    prompt->SetPosition(position.x(), position.y());
    prompt->SetText(text);
    prompt->SetMode(mode);
    connect(prompt, &QDialog::finished, prompt, [question](int result) {
        question->Answer({result, {}});
    });
    question->SetDismiss(Dismisser(prompt, kPromptCancel));
    prompt->open();  // window-modal: the main dialog takes no input until it closes
}

int CUpdateDlg::ShowFailureNotice(const std::string& text, const std::string& reason) {
    EndVolumeWait();
    return ShowPrompt(reason.empty() ? text : text + "\r\n" + reason, kPromptNotice);
}

void CUpdateDlg::ShowSuccessBox(const std::string& text, const std::string& caption) {
    EndVolumeWait();
    const QString shownText = FromTable(text);
    const QString shownCaption = FromTable(caption);
    m_Relay.Ask(
        [this, shownText, shownCaption](const std::shared_ptr<CQuestion>& question) {
            auto* box = new QMessageBox(QMessageBox::NoIcon, shownCaption, shownText,
                                        QMessageBox::Ok, this);
            box->setAttribute(Qt::WA_DeleteOnClose);
            connect(box, &QDialog::finished, box, [question](int) {
                question->Answer({kPromptOk, {}});
            });
            question->SetDismiss(Dismisser(box, QDialog::Rejected));
            box->open();
        },
        QuestionAnswer{kPromptCancel, {}});
}

std::optional<std::filesystem::path> CUpdateDlg::AskImagePath(
    const std::string& filter, const std::filesystem::path& initialFolder) {
    const QStringList nameFilters = NameFiltersFromBarList(filter);
    const QString folder = QString::fromStdString(initialFolder.string());
    const QuestionAnswer answer = m_Relay.Ask(
        [this, nameFilters, folder](const std::shared_ptr<CQuestion>& question) {
            auto* dialog = new QFileDialog(this, QString(), folder);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->setAcceptMode(QFileDialog::AcceptOpen);
            dialog->setFileMode(QFileDialog::ExistingFile);
            dialog->setNameFilters(nameFilters);
            connect(dialog, &QDialog::finished, dialog, [question, dialog](int result) {
                const QStringList files = dialog->selectedFiles();
                if (result == QDialog::Accepted && !files.isEmpty()) {
                    question->Answer({kPromptOk, files.front().toStdString()});
                } else {
                    question->Answer({kPromptCancel, {}});
                }
            });
            question->SetDismiss(Dismisser(dialog, QDialog::Rejected));
            dialog->open();
        },
        QuestionAnswer{kPromptCancel, {}});
    if (answer.Code != kPromptOk) {
        return std::nullopt;
    }
    return answer.Path;
}

void CUpdateDlg::CancelQuestions() {
    m_Relay.CancelAll();
}

// --- closing ---

void CUpdateDlg::done(int result) {
    CloseDown();
    QDialog::done(result);
}

void CUpdateDlg::CloseDown() {
    if (m_bClosed) {
        return;
    }
    m_bClosed = true;
    if (m_pNoticeWatch != nullptr) {
        m_pNoticeWatch->setEnabled(false);
    }
    // Answered first: a worker waiting for the user would never let itself be joined.
    m_Relay.CancelAll();
    hide();
    if (m_pEngine != nullptr) {
        m_pEngine->Shutdown();
    }
}

// --- keys and dragging ---

bool CUpdateDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
        event->type() == QEvent::ShortcutOverride) {
        if (IsSwallowedKey(static_cast<QKeyEvent*>(event)->key())) {
            event->accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CUpdateDlg::mousePressEvent(QMouseEvent* event) {
    if (!m_Dragger.Press(*event)) {
        QDialog::mousePressEvent(event);
    }
}

void CUpdateDlg::mouseMoveEvent(QMouseEvent* event) {
    if (!m_Dragger.Move(*event)) {
        QDialog::mouseMoveEvent(event);
    }
}

void CUpdateDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_Dragger.Release(*event)) {
        QDialog::mouseReleaseEvent(event);
    }
}

}  // namespace tarvex
