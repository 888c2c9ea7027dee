// linemint: the desktop window.
#include <QApplication>

#include "app/window/main_window.h"
#include "app/window/window_controller.h"
#include "platform/cpu_features.h"
#include "platform/heap.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Linemint"));

  // Start-up, in order: the two tables (inside the controller, neither
  // created yet), the exit routine, the processor probe and the heap entry
  // points, then the window, whose creation makes the private heap, tests
  // SSE2 and registers for drops.
  linemint::WindowController controller;
  QObject::connect(&app, &QCoreApplication::aboutToQuit, [&controller] { controller.onExit(); });
  linemint::platform::probeCpuFeatures();
  linemint::platform::resolveHeapEntryPoints();
  linemint::MainWindow window(controller);
  window.show();
  return app.exec();
}
