// The yardstick for start-up and memory: the least a Qt 6 widgets program
// shows, one window holding one button.
#include <QApplication>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QPushButton(QStringLiteral("Button"), &window));
    window.show();
    return QApplication::exec();
}
