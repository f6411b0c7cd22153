// Skins: a background picture from the program's folder, a window colour and the text colours of
// eight captions of the settings panel.  The number of the skin last put on is kept in
// "skins.txt" and put on again at the next start.
#include "ui/stavebass.h"

#include "platform/appdir.h"
#include "platform/userfile.h"
#include "ui/captions.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QSaveFile>
#include <algorithm>
#include <limits>
#include <optional>

namespace {

const QString kSkinFile = QStringLiteral("skins.txt");

// A colour of the skin table: an exact colour, or the system's colour for text on buttons.
struct SkinColour {
    QColor colour;
    bool buttonText = false;
    QColor resolve() const {
        return buttonText ? QApplication::palette().color(QPalette::ButtonText) : colour;
    }
};

const SkinColour kButtonText{QColor(), true};
SkinColour rgb(int r, int g, int b) {
    return {QColor(r, g, b), false};
}

struct Skin {
    int16_t number;
    const char* picture;
    SkinColour window;
    SkinColour label3_7_2; // "Your index finger", "Tempo", "Beat"
    SkinColour label1;     // "Show Current Notes"
    SkinColour label8_9_10;
    SkinColour label4; // "Volume Control"
};

const Skin& skinFlame() {
    static const Skin s{
        1, "flame.bmp", rgb(255, 0, 0), rgb(0, 0, 255), rgb(0, 0, 255), rgb(0, 0, 0), kButtonText};
    return s;
}
const Skin& skinSci() {
    static const Skin s{2,
                        "trinity2k2.jpg",
                        rgb(0, 0, 192),
                        kButtonText,
                        rgb(0, 0, 255),
                        rgb(255, 255, 255),
                        rgb(255, 255, 255)};
    return s;
}
const Skin& skinSky() {
    static const Skin s{3,
                        "land1.jpg",
                        rgb(255, 255, 255),
                        rgb(0, 0, 255),
                        rgb(255, 255, 255),
                        rgb(255, 255, 255),
                        rgb(255, 255, 255)};
    return s;
}
const Skin& skinCor() {
    static const Skin s{5,
                        "3db1.gif",
                        kButtonText,
                        rgb(255, 255, 255),
                        rgb(255, 255, 255),
                        rgb(255, 255, 255),
                        rgb(255, 255, 255)};
    return s;
}
const Skin& skinInd() {
    static const Skin s{6,
                        "industry.jpg",
                        kButtonText,
                        rgb(255, 255, 255),
                        rgb(255, 255, 255),
                        rgb(255, 255, 255),
                        rgb(255, 255, 255)};
    return s;
}

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
}

// The first number of the file, read as a number is read from the start of a line: blanks and
// line ends before it are skipped, then an optional sign and a run of decimal digits.  Anything
// else first, no digits, or a number too big for the skin number gives nothing.
std::optional<int16_t> firstNumber(const QByteArray& text) {
    qsizetype i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int value = 0;
    bool digits = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        value = value * 10 + (text[i] - '0');
        if (value > std::numeric_limits<int16_t>::max() + 1) {
            return std::nullopt;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int16_t>(value);
}

} // namespace

namespace {
void applySkin(stavebass& w, const Skin& skin) {
    // A missing or unreadable picture leaves the colours alone to show.
    w.backgroundPicture = QPixmap(platform::appFile(QString::fromLatin1(skin.picture)));
    w.backgroundColour = skin.window.resolve();
    const QColor a = skin.label3_7_2.resolve();
    const QColor b = skin.label8_9_10.resolve();
    setTextColour(w.Label3, a);
    setTextColour(w.Label7, a);
    setTextColour(w.Label2, a);
    setTextColour(w.Label1, skin.label1.resolve());
    setTextColour(w.Label8, b);
    setTextColour(w.Label9, b);
    setTextColour(w.Label10, b);
    setTextColour(w.Label4, skin.label4.resolve());
    w.skinNumber = skin.number;
    w.fitcaptions();
    if (QWidget* area = w.centralWidget()) {
        area->update();
    }
    w.saveskin();
}
} // namespace

void stavebass::saveskin() {
    // The new content goes into a file beside the old one, which is renamed over it only once
    // it is complete: an interrupted or failed save leaves the old file as it was.
    QSaveFile file(platform::userFileForWrite(kSkinFile));
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    const QByteArray line = QByteArray::number(skinNumber) + "\r\n";
    if (file.write(line) != line.size()) {
        file.cancelWriting();
        return;
    }
    file.commit();
}

void stavebass::loadskin() {
    QFile file(platform::userFileForRead(kSkinFile));
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    // A number is only a few characters; a larger file holds nothing more of use.
    const QByteArray head = file.read(64);
    file.close();
    const std::optional<int16_t> number = firstNumber(head);
    if (!number) {
        return;
    }
    skinNumber = *number;
    switch (skinNumber) {
    case 1:
        flame();
        break;
    case 2:
        sci();
        break;
    case 3:
        sky();
        break;
    case 5:
        cor();
        break;
    case 6:
        ind();
        break;
    default:
        break; // no skin has this number: the window keeps its designed look
    }
}

namespace {
QRect designedPlace(const QLabel* label) {
    const QVariant designed = label->property("designedGeometry");
    return designed.isValid() ? designed.toRect() : label->geometry();
}
} // namespace

void stavebass::fitcaptions() {
    QWidget* area = centralWidget();
    if (area == nullptr) {
        return;
    }
    // What is behind the captions, as the client area paints it.
    QImage behind(area->size(), QImage::Format_RGB32);
    behind.fill(backgroundColour);
    {
        QPainter p(&behind);
        if (!backgroundPicture.isNull()) {
            p.drawPixmap(0, 0, backgroundPicture);
        }
        p.fillRect(QRect(0, kStaveTop, kStaveLeft + 664, kSheetBottom - kStaveTop), Qt::white);
    }
    for (QLabel* label :
         {Label1, Label2, Label3, Label4, Label5, Label6, Label7, Label8, Label9, Label10}) {
        if (label == nullptr) {
            continue;
        }
        QPalette pal = label->palette();
        const QColor text = pal.color(QPalette::WindowText);
        const bool plate =
            captions::worstContrast(text, behind, designedPlace(label)) < captions::kReadable;
        pal.setColor(QPalette::Window, captions::plateFor(text));
        label->setPalette(pal);
        // A plate hugs its text: as wide as the words (and a margin), at the same place, or
        // ending at the same place for a caption aligned right.
        QVariant designed = label->property("designedGeometry");
        if (!designed.isValid()) {
            designed = label->geometry();
            label->setProperty("designedGeometry", designed);
        }
        QRect place = designed.toRect();
        if (plate && !label->wordWrap()) {
            const int wide =
                std::min(place.width(), label->fontMetrics().horizontalAdvance(label->text()) + 8);
            if (label->alignment() & Qt::AlignRight) {
                place.setLeft(place.right() - wide + 1);
            } else {
                place.setWidth(wide);
            }
        }
        label->setGeometry(place);
        label->setIndent(plate ? 4 : -1);
        label->setAttribute(Qt::WA_TranslucentBackground, !plate);
        label->setAttribute(Qt::WA_NoSystemBackground, !plate);
        label->setAutoFillBackground(plate);
    }
}

void stavebass::flame() {
    applySkin(*this, skinFlame());
}
void stavebass::sky() {
    applySkin(*this, skinSky());
}
void stavebass::sci() {
    applySkin(*this, skinSci());
}
void stavebass::cor() {
    applySkin(*this, skinCor());
}
void stavebass::ind() {
    applySkin(*this, skinInd());
}

void stavebass::flamethrower_Click() {
    flame();
}
void stavebass::corporate_Click() {
    cor();
}
void stavebass::scifi_Click() {
    sci();
}
void stavebass::industry_Click() {
    ind();
}
