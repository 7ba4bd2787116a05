// mkpt: the window program.
#include <QApplication>
#include <QIcon>
#include <cstring>
#include <iostream>

#include "app/mainform.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << "Usage: mkpt [/REG FILE.rst | /REGSIMPLE FILE.rst | /SLAVE]\n"
                   "The MKP protocol test bench and debugger. The port settings are read from\n"
                   "mkpt.ini in the working folder.\n";
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "mkpt " << MKPT_VERSION << "\n";
      return 0;
    }
  }
  QApplication app(argc, argv);
  // The desktop entry and the icon that `cmake --install` puts in place; the
  // window shows no icon when the program runs from the build folder.
  QGuiApplication::setDesktopFileName("mkpt");
  QApplication::setWindowIcon(QIcon::fromTheme("mkpt"));
  mkpt::TMainForm window;
  window.show();
  return app.exec();
}
