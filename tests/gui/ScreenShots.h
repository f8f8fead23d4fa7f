// Writes screens of widgets as PNG files for a person to check, and fails the run when a screen
// is missing: a grab that is empty or of a single colour, a file that cannot be written, or a
// screen that never came (a dialog that did not open).
#pragma once

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <cstdio>

namespace valdrune::test {

class ScreenShots {
  public:
    explicit ScreenShots(QString folder) : folder_(std::move(folder)) { QDir().mkpath(folder_); }

    void Save(QWidget& w, const QString& name) {
        const QString path = folder_ + QLatin1Char('/') + name + QStringLiteral(".png");
        const QImage image = w.grab().toImage();
        const char* fault = image.isNull() || image.width() < 2 || image.height() < 2 ? "empty"
                            : OneColour(image)                                         ? "blank"
                            : !image.save(path)                                         ? "not written"
                                                                                        : nullptr;
        std::printf("%s %s\n", fault ? fault : "wrote", qPrintable(path));
        if (fault == nullptr) ++written_;
    }

    // 0 when exactly the expected number of screens was written, else 1 (and says so).
    int Finish(int expected) const {
        if (written_ == expected) return 0;
        std::printf("FAILED: %d of %d screens written\n", written_, expected);
        return 1;
    }

  private:
    static bool OneColour(const QImage& image) {
        const QRgb first = image.pixel(0, 0);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != first) return false;
        return true;
    }

    QString folder_;
    int written_ = 0;
};

}  // namespace valdrune::test
