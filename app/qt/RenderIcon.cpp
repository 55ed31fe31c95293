// tarvex-render-icon SVG SIDE OUT.png: draws the program icon at SIDE x SIDE pixels for the
// hicolor icon theme. Used by the build.

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: tarvex-render-icon SVG SIDE OUT.png\n";
        return 2;
    }
    QSvgRenderer renderer{QString::fromLocal8Bit(argv[1])};
    const int side = std::atoi(argv[2]);
    if (!renderer.isValid() || side <= 0) {
        std::cerr << "tarvex-render-icon: cannot read " << argv[1] << " or bad size\n";
        return 1;
    }
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    return image.save(QString::fromLocal8Bit(argv[3]), "PNG") ? 0 : 1;
}
