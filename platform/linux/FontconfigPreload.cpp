// fontconfig keeps one process-wide configuration, made by the first FcInit and taken by every
// later caller (Qt's font database among them) as it is. Loading it parses the configuration
// files and maps the font caches: the largest single part of a Qt window's start.

#include <fontconfig/fontconfig.h>

#include <thread>

#include "platform/FontPreload.h"

namespace tarvex {
namespace {

class CFontconfigPreload final : public CFontPreload {
public:
    CFontconfigPreload() : m_Reader([] { FcInit(); }) {}
    ~CFontconfigPreload() override { Finish(); }
    CFontconfigPreload(const CFontconfigPreload&) = delete;
    CFontconfigPreload& operator=(const CFontconfigPreload&) = delete;

    void Finish() override {
        if (m_Reader.joinable()) {
            m_Reader.join();
        }
    }

private:
    std::thread m_Reader;
};

}  // namespace

std::unique_ptr<CFontPreload> StartFontPreload() {
    return std::make_unique<CFontconfigPreload>();
}

}  // namespace tarvex
