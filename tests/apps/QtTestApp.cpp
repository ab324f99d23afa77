// A small Qt 6 window for the end-to-end tests: one button that says on standard
// output when it is pressed. Qt answers the accessibility bus differently from GTK and
// Chromium, so reading it keeps that difference tested.

#include <QApplication>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle("Qt test");
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton("Press me");
    layout->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, [] {
        std::puts("pressed");
        std::fflush(stdout);
    });
    window.setGeometry(80, 80, 320, 160);
    window.show();
    return application.exec();
}
