// The least Qt Widgets program that shows what the updater's window shows: a dialog with a
// caption, a progress bar, two labels and a push button, and nothing else. The window start-up
// benchmark starts it beside the updater as the floor that Qt and the X server set.

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Tarvex Update V1.0"));
    dialog.setFixedSize(377, 263);
    auto* progress = new QProgressBar(&dialog);
    progress->setGeometry(11, 11, 355, 23);
    auto* instructions = new QLabel(QStringLiteral("Instructions"), &dialog);
    instructions->setGeometry(11, 37, 355, 133);
    auto* version = new QLabel(&dialog);
    version->setGeometry(125, 190, 127, 20);
    auto* button = new QPushButton(QStringLiteral("USB_Update"), &dialog);
    button->setGeometry(11, 216, 355, 36);
    button->setEnabled(false);
    return dialog.exec();
}
