// Window tests run the real window on Qt's offscreen platform.

#include <gtest/gtest.h>

#include "window/Aplicacion.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TAplicacion application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
