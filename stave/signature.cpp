// The clef and key signature left of the stave, loaded from the key's picture file.
#include "engine/keys.h"
#include "platform/appdir.h"
#include "platform/msgbox.h"
#include "ui/editcombo.h"
#include "ui/stavebass.h"

#include <QLabel>
#include <QPixmap>

void stavebass::signature() {
    const int position = Keysignature->listIndex();
    keyName = position == -1 ? std::string("C") : Keysignature->text().toStdString();
    const bool flatKeyPlace = position >= 8;
    const int top = flatKeyPlace ? 80 : 88;      // 1200 or 1320 twips
    const int height = flatKeyPlace ? 240 : 247; // 3600 or 3700 twips

    const QString fileName = QString::fromStdString(keyName) + QStringLiteral("key.bmp");
    const QString file = platform::appFile(fileName);
    // At scale 2 the picture's 2x twin, shown at the picture's own size.
    const QString shown = picturefile(fileName);
    QPixmap picture(shown);
    picture.setDevicePixelRatio(shown == file ? 1.0 : 2.0);
    if (picture.isNull()) {
        // A missing or unreadable picture leaves the key area empty; the practice goes on in
        // that key, which keyIndex below still follows.
        key->clear();
        key->setGeometry(-56, top, key->width(), height);
        // Each missing picture is named once (start-up names all it finds), and each window
        // names them for itself.
        if (!reportedPictures.contains(file)) {
            reportedPictures << file;
            platform::messageBox(QStringLiteral("The key signature picture \"%1\" is missing or "
                                                "cannot be read (%2). The key area stays empty; "
                                                "the practice goes on in the key of %3.")
                                     .arg(fileName, file, QString::fromStdString(keyName)));
        }
    } else {
        key->setPixmap(picture);
        key->setGeometry(-56, top, qRound(picture.deviceIndependentSize().width()), height);
    }
    // A name that matches no key leaves the key as it was.
    if (const auto index = keys::keyIndexOf(keyName)) {
        keyIndex = static_cast<int16_t>(*index);
    }
}
