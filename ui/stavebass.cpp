#include "ui/stavebass.h"

#include "sound/midi_out.h"

#include "platform/msgbox.h"

#include "platform/appdir.h"
#include "platform/fluid_engine.h"
#include "platform/screenfit.h"
#include "ui/clientarea.h"
#include "ui/devicelist.h"
#include "ui/editcombo.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>

namespace {

const QString kYellowBox =
    QStringLiteral("QLabel { background-color: rgb(255,255,0); color: rgb(0,0,255); "
                   "border: 1px solid rgb(0,0,128); padding-left: 2px; }");
const QString kYellowList = QStringLiteral(
    "QComboBox, QComboBox QLineEdit { background-color: rgb(255,255,0); color: rgb(0,0,255); }");
const QString kCyanList = QStringLiteral(
    "QComboBox, QComboBox QLineEdit { background-color: rgb(0,255,255); color: rgb(0,0,0); }");
const QString kButtonFace = QStringLiteral("QPushButton { background-color: rgb(192,192,255); "
                                           "border: 1px solid rgb(64,64,128); }");

QLabel* caption(QWidget* parent, const QString& text, int x, int y, int w, int h) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

QLabel* valueBox(QWidget* parent, const QString& text, int x, int y, int w, int h) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    label->setStyleSheet(kYellowBox);
    label->setAutoFillBackground(true);
    return label;
}

QCheckBox* optionBox(QWidget* parent, const QString& ownCaption, const QString& tip, int x, int y) {
    // The box is only as large as its indicator; the label beside it is what the player reads.
    auto* box = new QCheckBox(parent);
    box->setGeometry(x, y, 18, 18);
    box->setAccessibleName(ownCaption);
    box->setProperty("caption", ownCaption);
    box->setToolTip(tip);
    return box;
}

QPushButton* pictureButton(QWidget* parent, const QString& picture, const QString& tip, int x,
                           int y) {
    auto* button = new QPushButton(parent);
    button->setGeometry(x, y, 48, 38);
    button->setStyleSheet(kButtonFace);
    const QPixmap pix(platform::appFile(picture));
    if (!pix.isNull()) {
        button->setIcon(QIcon(pix));
        button->setIconSize(pix.size());
    }
    button->setToolTip(tip);
    return button;
}

EditCombo* list(QWidget* parent, const QString& prompt, const QString& tip, const QString& style,
                int x, int y, int w) {
    auto* combo = new EditCombo(prompt, parent);
    combo->setGeometry(x, y, w, 24);
    combo->setToolTip(tip);
    combo->setStyleSheet(style);
    return combo;
}

} // namespace

stavebass::stavebass(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral(
        "Clefworking for Guitar  -  by the Clefwork developers  -  clefwork.example.org"));
    buildControls();
    buildMenus();
    loadSprites();
    Form_Load();
}

stavebass::~stavebass() {
    platform::setSoundfontHook({});
    if (listener) {
        listener->stop();
    }
    endhistory();
    historyWriter.reset(); // writes what is queued
    if (!unloaded) {
        Form_Unload();
    }
    delete introWindow.data();
    if (platform::messagesHeld()) {
        platform::releaseMessages(nullptr); // closed before the intro handed over
    }
}

void stavebass::closeEvent(QCloseEvent* event) {
    if (!unloaded) {
        Form_Unload();
    }
    event->accept();
}

void stavebass::showEvent(QShowEvent* event) {
    if (!event->spontaneous() && !placed) {
        placed = true;
        placeonscreen();
    }
    QMainWindow::showEvent(event);
}

void stavebass::placeonscreen() {
    // The window keeps its designed size where the screen has room for it, and the window
    // manager places it.  On a smaller screen (a small one at scale 2) the controls scroll in a
    // window as large as the screen's free area, placed inside it.
    const QRect available = screenfit::availableArea(this);
    if (!available.isValid()) {
        return;
    }
    ensurePolished();
    const QSize full = sizeHint();
    const QSize fitted = screenfit::fittedSize(full, available, screenfit::kFrame);
    if (fitted == full) {
        return;
    }
    auto* scroller = new QScrollArea(this);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setFocusPolicy(Qt::NoFocus);
    takeCentralWidget();
    scroller->setWidget(client);
    setCentralWidget(scroller);
    layout()->activate(); // the designed size is no longer the window's minimum
    resize(fitted);
    move(screenfit::placedInside(QRect(pos(), fitted + screenfit::kFrame), available));
}

void stavebass::buildControls() {
    // As designed: a deep blue window with the flame picture from its top left corner.
    backgroundPicture = QPixmap(platform::appFile(QStringLiteral("flame.bmp")));
    client = new ClientArea(this);
    setCentralWidget(client);
    client->setFixedSize(896, 540);
    // A click on the stave or the window's background takes the focus off a list's text, so
    // that the window's keys work again.
    client->setFocusPolicy(Qt::ClickFocus);
    QWidget* w = client;

    // The stave, its key picture and the note names of the bar being played.
    Image3 = new StaveView(this, w);
    Image3->setGeometry(kStaveLeft, kStaveTop, 664, 292);
    Image3->setToolTip(QStringLiteral("stave"));

    key = new QLabel(w);
    key->setGeometry(-56, 88, 272, 247);
    key->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    key->setToolTip(QStringLiteral("The bass clef and keysignature"));

    // The logo stays left of the stave, which starts at x 216: shown whole, a little smaller.
    Picture1 = new QLabel(w);
    Picture1->setGeometry(0, 0, kStaveLeft, 85);
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const QPixmap logo(platform::appFile(QStringLiteral("logo.bmp")));
    if (!logo.isNull()) {
        Picture1->setPixmap(logo.scaledToWidth(kStaveLeft, Qt::SmoothTransformation));
    }

    const int labelX[4] = {256, 304, 352, 400};
    QLabel** noteLabels[4] = {&Label13, &Label14, &Label15, &Label16};
    for (int i = 0; i < 4; ++i) {
        *noteLabels[i] = valueBox(w, QString(), labelX[i], 16, 41, 21);
        (*noteLabels[i])->setAlignment(Qt::AlignCenter);
    }

    Check2 = optionBox(w, QStringLiteral("Show current Notes"),
                       QStringLiteral("This will help you with the names of the notes - but when "
                                      "this is unticked, the boxes will disappear"),
                       644, 14);
    // Everything stays over the skin's 768-pixel picture, where its caption colours are meant to
    // be read.
    Label1 = caption(w, QStringLiteral("Show Current Notes"), 666, 4, 100, 36);
    Label1->setWordWrap(true);
    Label1->setToolTip(Check2->toolTip());

    Label6 = caption(w, QStringLiteral("Midi Device"), 456, 0, 120, 16);
    List1 = new DeviceList(w);
    List1->setGeometry(456, 18, 180, 22);
    List1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    List1->setToolTip(QStringLiteral("Choose the best midi sound on your computer"));

    // The settings panel.
    const int top = 336;
    Label5 = caption(w, QStringLiteral("Tempo Slide bar"), 8, top, 160, 18);
    temposcroll = new QScrollBar(Qt::Horizontal, w);
    temposcroll->setGeometry(8, top + 20, 250, 20);
    temposcroll->setRange(30, 200);
    temposcroll->setSingleStep(2);
    temposcroll->setPageStep(8);
    temposcroll->setValue(60);

    Label7 = caption(w, QStringLiteral("Tempo"), 270, top, 50, 18);
    tempolabel = valueBox(w, QString(), 270, top + 18, 44, 22);
    Label2 = caption(w, QStringLiteral("Beat"), 326, top, 40, 18);
    beater = valueBox(w, QStringLiteral("1"), 326, top + 18, 30, 22);

    Start = pictureButton(w, QStringLiteral("start.bmp"), QStringLiteral("Starts the counting"),
                          378, top + 4);
    Stop =
        pictureButton(w, QStringLiteral("stop.bmp"), QStringLiteral("Aahh....stop."), 430, top + 4);
    Command1 = pictureButton(w, QStringLiteral("pause.bmp"),
                             QStringLiteral("Use this to pause at anytime"), 482, top + 4);
    Command2 =
        pictureButton(w, QStringLiteral("fretbutton.bmp"),
                      QStringLiteral("Click here to see the notes of the fretboard"), 534, top + 4);

    Timer1 = new QTimer(this);
    Timer1->setTimerType(Qt::PreciseTimer);

    const int row2 = top + 64;
    Keysignature = list(w, QStringLiteral("Keysignature"),
                        QStringLiteral("This will get you used to working with Keysignatures"),
                        kYellowList, 8, row2, 130);
    fretposition = list(w, QStringLiteral("Fret Position"),
                        QStringLiteral("Where your Index finger will be (you must specify below "
                                       "on which string you will be using)"),
                        kYellowList, 146, row2, 160);
    Stringchoice = list(w, QStringLiteral("String Choice"), QStringLiteral("Your Main String"),
                        kYellowList, 314, row2, 140);
    intervaldistance = list(w, QStringLiteral("String Distance"),
                            QStringLiteral("The Possible notes that you will need to reach for"),
                            kYellowList, 462, row2, 150);
    Label3 = caption(w, QStringLiteral("Your index finger"), 622, row2 - 20, 130, 18);
    finger = valueBox(w, QStringLiteral("E"), 622, row2, 44, 24);

    const int row3 = row2 + 40;
    Check1 = optionBox(w, QStringLiteral("Diatonic to Key"),
                       QStringLiteral("The notes displayed will be within the key"), 8, row3 + 2);
    Label8 = caption(w, QStringLiteral("Diatonic to Key"), 30, row3, 130, 22);
    Label8->setToolTip(Check1->toolTip());
    Check3 = optionBox(w, QStringLiteral("Alternate from Index finger"),
                       QStringLiteral("If clicked, the 1st and 3rd notes of the beat will be the "
                                      "note your index finger is on."),
                       170, row3 + 2);
    Label9 = caption(w, QStringLiteral("Alternate from Index Finger"), 192, row3, 200, 22);
    Label9->setToolTip(Check3->toolTip());
    Check4 = optionBox(w, QStringLiteral("Metronome On.  If unclicked Note Played"),
                       QStringLiteral("When this box is ticked, you will hear the clicks for each "
                                      "beat.  When un-ticked you can hear the notes (This will "
                                      "help you to tell if you are playing the right ones)"),
                       8, row3 + 34);
    Label10 = caption(w, QStringLiteral("Metronome On.  If unclicked the Note will play"), 30,
                      row3 + 32, 330, 22);
    Label10->setToolTip(Check4->toolTip());

    accif = list(w, QStringLiteral("Tricky notes"),
                 QStringLiteral("This will determine how likely it is to get an accidental coming "
                                "your way"),
                 kCyanList, 400, row3, 160);
    aspitch = list(w, QStringLiteral("Bass Guitar Pitch (octave lower than written)"), QString(),
                   kCyanList, 400, row3 + 32, 330);
    accif->hide();
    aspitch->hide();

    VScroll1 = new QScrollBar(Qt::Vertical, w);
    VScroll1->setGeometry(744, top, 20, 150);
    VScroll1->setRange(0, 127);
    VScroll1->setInvertedAppearance(true); // 127 at the top, 0 at the bottom
    VScroll1->setInvertedControls(false);
    VScroll1->setSingleStep(1);
    VScroll1->setPageStep(1);
    VScroll1->setValue(127);
    // Below the pitch list, which reaches x 730 when it shows.
    Label4 = caption(w, QStringLiteral("Volume Control"), 620, top + 166, 144, 18);
    Label4->setAlignment(Qt::AlignRight);

    // The designed colours; a skin recolours eight of the captions.
    auto colour = [](QLabel* l, const QColor& c) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, c);
        l->setPalette(pal);
    };
    for (QLabel* l : {Label3, Label7, Label2, Label1}) {
        colour(l, QColor(0, 0, 255));
    }
    for (QLabel* l : {Label8, Label9, Label10}) {
        colour(l, QColor(0, 0, 0));
    }
    colour(Label5, QColor(255, 255, 255));
    fitcaptions();

    Check1->setCheckState(Qt::Checked);
    Check2->setCheckState(Qt::Checked);
    Check3->setCheckState(Qt::Unchecked);
    Check4->setCheckState(Qt::Checked);

    // Each handler runs for exactly its own event.
    // With the count-in ticked the play button sounds a bar of clicks first.
    connect(Start, &QPushButton::clicked, this, [this] { startpressed(); });
    connect(Stop, &QPushButton::clicked, this, [this] { Stop_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(temposcroll, &QScrollBar::valueChanged, this, [this] { temposcroll_Change(); });
    connect(Timer1, &QTimer::timeout, this, [this] { beattimer(); });
    connect(Check1, &QCheckBox::stateChanged, this, [this] { Check1_Click(); });
    connect(Check2, &QCheckBox::stateChanged, this, [this] { Check2_Click(); });
    connect(Check3, &QCheckBox::stateChanged, this, [this] { Check3_Click(); });
    connect(Check4, &QCheckBox::stateChanged, this, [this] { Check4_Click(); });
    connect(Keysignature, &EditCombo::chosen, this, [this] { Keysignature_Click(); });
    connect(Keysignature, &EditCombo::edited, this, [this] { Keysignature_Change(); });
    connect(fretposition, &EditCombo::edited, this, [this] { fretposition_Change(); });
    connect(Stringchoice, &EditCombo::edited, this, [this] { Stringchoice_Change(); });
    connect(intervaldistance, &EditCombo::edited, this, [this] { intervaldistance_Change(); });
    connect(List1, &DeviceList::picked, this, [this] { List1_Click(); });
    connect(VScroll1, &QScrollBar::valueChanged, this, [this] { VScroll1_Change(); });
}

void stavebass::buildMenus() {
    CW = menuBar()->addMenu(QStringLiteral("Clefwork"));
    exit = CW->addAction(QStringLiteral("Exit"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, [this] { exit_Click(); });

    skins = menuBar()->addMenu(QStringLiteral("Skins"));
    flamethrower = skins->addAction(QStringLiteral("Flame Thrower"));
    corporate = skins->addAction(QStringLiteral("Corporate"));
    scifi = skins->addAction(QStringLiteral("Peaceful"));
    industry = skins->addAction(QStringLiteral("Industrial"));
    connect(flamethrower, &QAction::triggered, this, [this] { flamethrower_Click(); });
    connect(corporate, &QAction::triggered, this, [this] { corporate_Click(); });
    connect(scifi, &QAction::triggered, this, [this] { scifi_Click(); });
    connect(industry, &QAction::triggered, this, [this] { industry_Click(); });

    buildPractice();

    help = menuBar()->addMenu(QStringLiteral("Help"));
    cwhelp = help->addAction(QStringLiteral("Clefwork Help"));
    cwhelp->setShortcut(QKeySequence(Qt::Key_F1));
    makersite = help->addAction(QStringLiteral("Visit the makers of Clefwork on the web"));
    authorsite = help->addAction(QStringLiteral("Visit the author's web site"));
    about = help->addAction(QStringLiteral("About Clefwork for Guitar"));
    connect(cwhelp, &QAction::triggered, this, [this] { cwhelp_Click(); });
    connect(makersite, &QAction::triggered, this, [this] { makersite_Click(); });
    connect(authorsite, &QAction::triggered, this, [this] { authorsite_Click(); });
    connect(about, &QAction::triggered, this, [this] { about_Click(); });
}

void stavebass::onTimer1() {
    // A tick that arrives while one is still running (a message box runs a nested event loop)
    // is dropped, never nested.
    if (tickRunning) {
        return;
    }
    tickRunning = true;
    const bool endsBar = beatNumber == 4;
    const BeatHeard beat = beatabouttosound();
    MIDI_OUT::firstSendNanos = 0;
    Timer1_Timer();
    tickRunning = false;
    if (beat.listening) {
        judgebeat(beat);
    }
    if (endsBar) {
        trainerbarended();
    }
}
