// Saves a picture of the whole X screen: vertilo_captura FILE.png

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc < 2) return 2;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 3;
  return screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
