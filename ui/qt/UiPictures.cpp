#include "ui/qt/UiPictures.h"

#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <array>

#include "ui/PromptLayout.h"
#include "ui/qt/QtGeometry.h"

// Pulls the pictures into a program linked with this library: a static library's resource
// object would otherwise be left out, nothing referring to it by name.
static void RegisterPictureResources() {
    Q_INIT_RESOURCE(pictures);
}

namespace tarvex {

namespace {

struct PictureSource {
    std::uint32_t Id;
    const char* Resource;
    QSize Size;
};

constexpr std::array kPictures{
    PictureSource{kPictureOk, ":/pictures/picture-4010-ok.svg", ToQt(kButtonPictureSize)},
    PictureSource{kPictureOkHighlighted, ":/pictures/picture-4012-ok-highlighted.svg",
                  ToQt(kButtonPictureSize)},
    PictureSource{kPictureCancel, ":/pictures/picture-4013-cancel.svg", ToQt(kButtonPictureSize)},
    PictureSource{kPictureCancelHighlighted, ":/pictures/picture-4015-cancel-highlighted.svg",
                  ToQt(kButtonPictureSize)},
    PictureSource{kPicturePromptBackground, ":/pictures/picture-134-prompt.svg",
                  QSize(kPromptWidth, kPromptHeight)},
    PictureSource{kPictureProgramIcon, ":/pictures/icon-110.svg", QSize(256, 256)},
};

const PictureSource* FindPicture(std::uint32_t id) {
    for (const PictureSource& picture : kPictures) {
        if (picture.Id == id) {
            return &picture;
        }
    }
    return nullptr;
}

QPixmap Render(const char* resource, QSize logicalSize, qreal devicePixelRatio) {
    static const bool registered = (RegisterPictureResources(), true);
    (void)registered;
    QSvgRenderer renderer{QString::fromLatin1(resource)};
    if (!renderer.isValid()) {
        return {};
    }
    QPixmap pixmap(logicalSize * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

}  // namespace

QSize PictureSize(std::uint32_t id) {
    const PictureSource* picture = FindPicture(id);
    return picture != nullptr ? picture->Size : QSize();
}

QPixmap LoadPicture(std::uint32_t id, qreal devicePixelRatio) {
    const PictureSource* picture = FindPicture(id);
    if (picture == nullptr) {
        return {};
    }
    return Render(picture->Resource, picture->Size, devicePixelRatio);
}

QIcon ProgramIcon() {
    const PictureSource* picture = FindPicture(kPictureProgramIcon);
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        for (const qreal ratio : {1.0, 2.0}) {
            icon.addPixmap(Render(picture->Resource, QSize(side, side), ratio));
        }
    }
    return icon;
}

}  // namespace tarvex
