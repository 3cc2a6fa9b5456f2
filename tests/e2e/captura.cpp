// Saves a picture of the X screen, or of a part of it:
//   vertilo_captura FILE.png [X Y WIDTH HEIGHT]

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 2 && argc != 6) return 2;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 3;
  QPixmap picture = argc == 6 ? screen->grabWindow(0, std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]))
                              : screen->grabWindow(0);
  return picture.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
