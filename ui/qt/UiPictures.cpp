#include "ui/qt/UiPictures.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QString>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <utility>

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

std::atomic<std::size_t> DrawnCount{0};

QPixmap Render(const char* resource, QSize logicalSize, qreal devicePixelRatio) {
    static const bool registered = (RegisterPictureResources(), true);
    (void)registered;
    DrawnCount.fetch_add(1);
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

// The sides the program icon lists, in device pixels: those of 16 to 128 at 1x and 2x, and 256.
// X11 window managers get every one of them; any other size is drawn when it is asked for.
constexpr std::array kIconSides{16, 24, 32, 48, 64, 96, 128, 256};

// An icon drawn from its SVG source the first time a size is asked for, then kept. Making one
// draws nothing: a window system asks for its sizes when it sets the icon, not before.
class CPictureIconEngine final : public QIconEngine {
public:
    explicit CPictureIconEngine(const char* resource) : m_Resource(resource) {}

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        if (size.isEmpty()) {
            return {};
        }
        QPixmap& drawn = m_Drawn[std::pair(size.width(), size.height())];
        if (drawn.isNull()) {
            drawn = Render(m_Resource, size, 1.0);
        }
        if (mode == QIcon::Normal || QApplication::style() == nullptr) {
            return drawn;
        }
        // Disabled and selected looks as the style makes them from the normal picture.
        QStyleOption option;
        option.palette = QApplication::palette();
        return QApplication::style()->generatedIconPixmap(mode, drawn, &option);
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio =
            painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (const int side : kIconSides) {
            sizes.append(QSize(side, side));
        }
        return sizes;
    }

    QString key() const override { return QStringLiteral("tarvex-picture"); }

    QIconEngine* clone() const override { return new CPictureIconEngine(*this); }

private:
    const char* m_Resource;
    std::map<std::pair<int, int>, QPixmap> m_Drawn;
};

}  // namespace

std::size_t PicturesDrawn() {
    return DrawnCount.load();
}

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
    return QIcon(new CPictureIconEngine(FindPicture(kPictureProgramIcon)->Resource));
}

}  // namespace tarvex
