// artwork OUTDIR: draws every picture Clefwork ships into OUTDIR.

#include "artwork.h"
#include "gif.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>

namespace artwork {

void Output::save(const QImage& picture, const QString& fileName, int quality) {
    const QString path = QDir(folder_).filePath(fileName);
    bool ok = false;
    if (fileName.endsWith(".gif", Qt::CaseInsensitive)) {
        const QImage indexed = toIndexed(picture);
        QFile file(path);
        ok = file.open(QIODevice::WriteOnly) && file.write(encodeGif(indexed)) >= 0 && file.flush();
        file.close();
        // Qt has no GIF writer but does read GIFs: read the file back and compare every pixel.
        if (ok) {
            const QImage back = QImage(path).convertToFormat(QImage::Format_RGB32);
            const QImage expected = indexed.convertToFormat(QImage::Format_RGB32);
            ok = back == expected;
            if (!ok) {
                failures_.append(fileName + " does not read back as written");
                return;
            }
        }
    } else {
        const char* format = fileName.endsWith(".jpg", Qt::CaseInsensitive) ? "JPEG" : "BMP";
        ok = picture.save(path, format, quality);
    }
    if (ok) {
        ++written_;
    } else {
        failures_.append(path + " could not be written");
    }
}

} // namespace artwork

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // the texts in the pictures need fonts
    if (argc != 2) {
        std::fprintf(stderr, "usage: artwork OUTDIR\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "artwork: cannot create %s\n", argv[1]);
        return 1;
    }
    artwork::Output out(folder);
    artwork::drawStavePictures(out);
    artwork::drawWindowPictures(out);
    artwork::drawSkins(out);
    for (const QString& failure : out.failures()) {
        std::fprintf(stderr, "artwork: %s\n", qPrintable(failure));
    }
    if (!out.failures().isEmpty()) {
        return 1;
    }
    std::printf("artwork: %d pictures in %s\n", out.written(), argv[1]);
    return 0;
}
