// sellmeter-screenshot OUTPUT.png [NICKNAME]: a companion for machines without a screen. It
// starts the program exactly as sellmeter does, presses the query button once, saves the
// window's picture as PNG, prints its path and closes the window.
#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <string>

#include "app/linux/qt_framework.h"
#include "app/main_layout.h"
#include "app/program.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUTPUT.png [NICKNAME]\n", argv[0]);
    return 2;
  }
  const QString output = QString::fromLocal8Bit(argv[1]);
  const QString nickname = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
  bool saved = false;

  sellmeter::QtFramework framework;
  framework.SetStartedHook([&](sellmeter::QtMainWindow& window) {
    QTimer::singleShot(0, &window, [&] {
      if (!nickname.isEmpty()) {
        static_cast<QLineEdit*>(window.Control(sellmeter::kNicknameEdit))->setText(nickname);
      }
      // The click runs the whole query before it returns.
      static_cast<QPushButton*>(window.Control(sellmeter::kQueryButton))->click();
      QApplication::processEvents();
      saved = window.grab().save(output, "PNG");
      window.close();
    });
  });
  sellmeter::RunProgram(framework);
  if (!saved) {
    std::fprintf(stderr, "could not save %s\n", argv[1]);
    return 1;
  }
  std::printf("%s\n", argv[1]);
  return 0;
}
