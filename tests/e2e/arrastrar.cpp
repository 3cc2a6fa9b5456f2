// A drag source for end-to-end tests: a small window at the top-left corner of the screen
// that starts dragging the given paths as file URLs when a mouse button goes down on it,
// the way a file manager does.
//
//   vertilo_arrastrar PATH...     shows the window; the drag starts on a press
//   vertilo_arrastrar --fila      prints the height of a row of the drive list

#include <QApplication>
#include <QDrag>
#include <QFont>
#include <QFontMetrics>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class Origen : public QWidget {
 public:
  explicit Origen(QList<QUrl> urls) : urls_(std::move(urls)) {
    setWindowTitle(QStringLiteral("arrastrar"));
    setGeometry(0, 0, 200, 200);
  }

 protected:
  void mousePressEvent(QMouseEvent*) override {
    auto* data = new QMimeData;
    data->setUrls(urls_);
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const Qt::DropAction action = drag->exec(Qt::CopyAction);
    std::printf("drag ended %d\n", static_cast<int>(action));
    std::fflush(stdout);
  }

 private:
  QList<QUrl> urls_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc == 2 && QString::fromLocal8Bit(argv[1]) == QStringLiteral("--fila")) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    std::printf("%d\n", 2 * QFontMetrics(font).height());
    return 0;
  }
  QList<QUrl> urls;
  for (int i = 1; i < argc; ++i) urls.push_back(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i])));
  Origen window(urls);
  window.show();
  std::printf("ready\n");
  std::fflush(stdout);
  return application.exec();
}
