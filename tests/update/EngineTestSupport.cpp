#include "tests/update/EngineTestSupport.h"

#include <sstream>
#include <thread>

namespace tarvex::testing {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void EngineFixture::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_Folder = std::filesystem::temp_directory_path() /
               (std::string("tarvex-engine-") + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(m_Folder);
    std::filesystem::create_directories(m_Folder);
    m_Port.AttachUpdateDevice(m_pDevice);
    m_pEngine = std::make_unique<CUpdateEngine>(m_Hid, m_View, m_Language);
}

void EngineFixture::TearDown() {
    m_pEngine.reset();  // joins every worker
    std::filesystem::remove_all(m_Folder);
}

std::filesystem::path EngineFixture::UseImage(const sim::SampleImageSpec& spec) {
    const auto path = m_Folder / "image.dat";
    EXPECT_TRUE(sim::WriteSampleImage(path, spec));
    m_View.ImageAnswer = path;
    return path;
}

std::optional<UpdateOutcome> EngineFixture::RunUpdate(std::chrono::milliseconds bound) {
    m_pEngine->Initialise();
    if (!m_pEngine->OnUsbUpdate()) {
        ADD_FAILURE() << "the update button started nothing";
        return std::nullopt;
    }
    const auto outcome = m_View.WaitForRunEnd(bound);
    if (!outcome) {
        ADD_FAILURE() << "the run did not end within " << bound.count() << " ms; " << WhatWasSeen();
    }
    return outcome;
}

std::string EngineFixture::WhatWasSeen() const {
    std::ostringstream seen;
    seen << "the device took " << (m_pDevice->ReceivedImageHeader() ? "a" : "no") << " header, "
         << m_pDevice->DataPacketCount() << " data packets ("
         << m_pDevice->ReceivedDataBytes().size() << " bytes), " << m_pDevice->PollCount()
         << " polls, " << m_pDevice->FinishCount() << " finish commands; transfer state "
         << TransferStateName(m_pEngine->Shared().TransferState.load()) << ", run "
         << (m_pEngine->UpdateRunActive() ? "active" : "not active") << "; prompts:";
    for (const auto& prompt : m_View.Prompts()) {
        seen << " '" << prompt.Text << "'";
    }
    seen << "; success boxes: " << m_View.SuccessBoxes().size();
    return seen.str();
}

std::size_t EngineFixture::HeaderCount() const {
    return m_pDevice->ReceivedImageHeader() ? 1 : 0;
}

}  // namespace tarvex::testing
