#include "ui/pictures.h"

#include "platform/appdir.h"
#include "platform/msgbox.h"
#include "ui/stavebass.h"

#include <QDir>
#include <QImageReader>

namespace pictures {

const QStringList& shipped() {
    static const QStringList names{
        // The stave, its note and sign sprites and the 8va mark.
        "stave.bmp", "stabdownsprite.bmp", "stabdownmask.bmp", "sitdownsprite.bmp",
        "sitdownmask.bmp", "stabupsprite.bmp", "stabupmask.bmp", "hangupsprite.bmp",
        "hangupmask.bmp", "adjust.bmp", "sharpsprite.bmp", "sharpmask.bmp", "flatsprite.bmp",
        "flatmask.bmp", "naturalsprite.bmp", "naturalmask.bmp", "ottava.bmp", "ottavamask.bmp",
        // The clef and key signature of each key.
        "Ckey.bmp", "Gkey.bmp", "Dkey.bmp", "Akey.bmp", "Ekey.bmp", "Bkey.bmp", "F#key.bmp",
        "C#key.bmp", "Fkey.bmp", "Bbkey.bmp", "Ebkey.bmp", "Abkey.bmp", "Dbkey.bmp", "Gbkey.bmp",
        "Cbkey.bmp",
        // The window's own pictures, the intro, About and the chart, and the skins.
        "logo.bmp", "start.bmp", "stop.bmp", "pause.bmp", "fretbutton.bmp", "intro.bmp",
        "aboutlogo.bmp", "fretboard.bmp", "hand.bmp", "handmask.bmp", "flame.bmp", "trinity2k2.jpg",
        "land1.jpg", "3db1.gif", "industry.jpg"};
    return names;
}

QStringList unreadable() {
    QStringList names;
    for (const QString& name : shipped()) {
        // Read in full: a file that starts as a picture may still be cut short.
        QImageReader reader(platform::appFile(name));
        if (!reader.canRead() || reader.read().isNull()) {
            names << name;
        }
    }
    return names;
}

QString missingText(const QStringList& names) {
    return QStringLiteral("Some of Clefwork's pictures are missing or cannot be read, so parts of "
                          "the window stay empty: %1.\r\nThey belong in %2; building or "
                          "installing Clefwork again puts them back.")
        .arg(names.join(QStringLiteral(", ")), QDir::toNativeSeparators(platform::appDir()));
}

} // namespace pictures

void stavebass::checkpictures() {
    const QStringList missing = pictures::unreadable();
    if (missing.isEmpty()) {
        return;
    }
    platform::messageBox(pictures::missingText(missing));
    // Named once: a key picture listed here is not reported again when its key is chosen.
    for (const QString& name : missing) {
        reportedPictures << platform::appFile(name);
    }
}
