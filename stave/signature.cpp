// The clef and key signature left of the stave, loaded from the key's picture file.
#include "platform/appdir.h"
#include "platform/msgbox.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QLabel>
#include <QSet>

namespace {
const char* const kKeyTexts[15] = {"C", "G",  "D",  "A",  "E",  "B",  "F#", "C#",
                                   "F", "Bb", "Eb", "Ab", "Db", "Gb", "Cb"};

// Each missing picture is reported once per run, not at every redraw.
QSet<QString>& reportedMissing() {
    static QSet<QString> files;
    return files;
}
} // namespace

void stavebass::signature() {
    const int position = Keysignature->listIndex();
    keyName = position == -1 ? std::string("C") : Keysignature->text().toStdString();
    const bool flatKeyPlace = position >= 8;
    const int top = flatKeyPlace ? 80 : 88;      // 1200 or 1320 twips
    const int height = flatKeyPlace ? 240 : 247; // 3600 or 3700 twips

    const QString file = platform::appFile(QString::fromStdString(keyName) + "key.bmp");
    const QPixmap picture(file);
    if (picture.isNull()) {
        // A missing picture leaves the key area empty; the practice goes on in that key.
        key->clear();
        key->setGeometry(-56, top, key->width(), height);
        if (!reportedMissing().contains(file)) {
            reportedMissing().insert(file);
            platform::messageBox(QStringLiteral("The key signature picture \"%1\" is missing or "
                                                "cannot be read. The key area stays empty; "
                                                "practice goes on in this key.")
                                     .arg(file));
        }
    } else {
        key->setPixmap(picture);
        key->setGeometry(-56, top, picture.width(), height);
    }
    // A name that matches no key leaves the key as it was.
    for (int k = 0; k < 15; ++k) {
        if (keyName == kKeyTexts[k]) {
            keyIndex = static_cast<int16_t>(k);
        }
    }
}
