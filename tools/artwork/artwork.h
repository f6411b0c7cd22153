// The pictures Clefwork ships, drawn from code.  Each group writes its files into the output
// folder and records any file it could not write.
#pragma once

#include <QImage>
#include <QPainterPath>
#include <QString>
#include <QStringList>

namespace artwork {

class Output {
public:
    explicit Output(QString folder) : folder_(std::move(folder)) {}

    // Writes the picture under its file name; the format follows the name's extension (".bmp",
    // ".jpg"; ".gif" goes through the GIF writer).  JPEG quality 0..100, -1 for Qt's default.
    void save(const QImage& picture, const QString& fileName, int quality = -1);

    const QStringList& failures() const { return failures_; }
    const QString& folder() const { return folder_; }
    int written() const { return written_; }

private:
    QString folder_;
    QStringList failures_;
    int written_ = 0;
};

void drawStavePictures(Output& out);  // stave, note and sign sprites, 8va mark, key pictures
void drawWindowPictures(Output& out); // logo, buttons, intro, About picture, chart, hand pointer
void drawSkins(Output& out);          // the five skin backgrounds

// The sign shapes of the stave, black on white: sharp 11 x 35, flat 8 x 29, natural 8 x 36.
QImage sharpShape();
QImage flatShape();
QImage naturalShape();

// A bass clef whose curl starts on the line at height `fLine`, its left edge at `left`, for
// stave lines `gap` pixels apart.
QPainterPath bassClef(double left, double fLine, double gap);

} // namespace artwork
