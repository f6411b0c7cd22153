// The main window and the map of the program.  Every handler and procedure of the window is
// declared here and defined in the folder of its subsystem:
//   engine/  Form_Load, Form_Unload, the beat loop and transport, the note tables, keys, the
//            index-finger note, reach and the bar generators
//   stave/   shownote, drawbars, accidents, signature, updatenotelabels, Check2_Click
//   sound/   opendefaultdevice, List1_Click, VScroll1_Change
//   ui/      the controls and menus, the skins, the auxiliary windows
#pragma once

#include "layers/window.h"

#include "engine/beatclock.h"
#include "engine/practice_state.h"

#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QStringList>

#include "history/writer.h"
#include "listen/listener.h"
#include "listen/matcher.h"
#include "listen/trainer.h"
#include "ui/devicelist.h"

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QAction;
class QPainter;
class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class QScrollBar;
class QTimer;
class EditCombo;
class StaveView;
class ClientArea;

class stavebass : public QMainWindow, public PracticeState {
    Q_OBJECT

public:
    explicit stavebass(QWidget* parent = nullptr);
    ~stavebass() override;

    // ---- controls: stave area ----
    QLabel* Picture1 = nullptr;  // the product logo
    QLabel* key = nullptr;       // the clef and key signature
    StaveView* Image3 = nullptr; // the stave; paints the kept drawing surface
    QLabel* Label13 = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label16 = nullptr;

    // ---- transport and timing ----
    QPushButton* Start = nullptr;
    QPushButton* Stop = nullptr;
    QPushButton* Command1 = nullptr; // pause
    QPushButton* Command2 = nullptr; // the fretboard chart
    QScrollBar* temposcroll = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* tempolabel = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* beater = nullptr;
    QLabel* Label2 = nullptr;
    QTimer* Timer1 = nullptr;

    // ---- when the beats fall (engine/beatloop.cpp) ----
    // Each tick runs a little before its beat and has the device play the beat's sound at the
    // beat's exact time on the device's own clock; what the tick shows appears with the beat.
    engine::BeatClock beatClock;
    int64_t beatDue = 0;          // the beat the tick plays, on the device's clock (0: at once)
    int64_t beatDueMonotonic = 0; // the same on the monotonic clock
    QTimer* beatShown = nullptr;  // lets the tick's drawing show when its beat sounds
    bool beatClockKept = false;   // Start goes on with the count-in's clock
    // How long before its beat a tick runs: the look-ahead when the device schedules, 0 when
    // it plays what it is sent at once.
    int64_t lookaheadNanos() const;
    // How long until the next beat's tick is due (ns), and the same in whole milliseconds (at
    // least 1), for a timer.
    int64_t nanostotick() const;
    int32_t tickwait() const;
    // Sets Timer1 to run the next beat's tick; the milliseconds of that wait.
    int32_t armbeat();
    // Timer1's timeout: the tick, once its beat is near (a timer may wake early).
    void beattimer();
    // Holds back the repaints of what a tick changes until its beat sounds.
    void holdscreen(bool hold);

    // ---- hand position and key ----
    EditCombo* Keysignature = nullptr;
    EditCombo* fretposition = nullptr;
    EditCombo* Stringchoice = nullptr;
    EditCombo* intervaldistance = nullptr;
    QLabel* finger = nullptr;
    QLabel* Label3 = nullptr;

    // ---- options ----
    QCheckBox* Check1 = nullptr; // Diatonic to Key
    QCheckBox* Check2 = nullptr; // Show current Notes
    QCheckBox* Check3 = nullptr; // Alternate from Index finger
    QCheckBox* Check4 = nullptr; // Metronome On
    QLabel* Label1 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    EditCombo* accif = nullptr;
    EditCombo* aspitch = nullptr;

    // ---- sound ----
    DeviceList* List1 = nullptr;
    QLabel* Label6 = nullptr;
    QScrollBar* VScroll1 = nullptr;
    QLabel* Label4 = nullptr;

    // ---- menus ----
    QMenu* CW = nullptr;
    QAction* exit = nullptr;
    QMenu* skins = nullptr;
    QAction* flamethrower = nullptr;
    QAction* corporate = nullptr;
    QAction* scifi = nullptr;
    QAction* industry = nullptr;
    QMenu* help = nullptr;
    QAction* cwhelp = nullptr;
    QAction* makersite = nullptr;
    QAction* authorsite = nullptr;
    QAction* about = nullptr;

    // ---- hidden picture holders the stave drawing copies from, in the surface's format ----
    QImage stavePicture; // the stave picture with the bar lines: what every redraw starts from
    QImage stabdownsprite, stabdownmask, sitdownsprite, sitdownmask;
    QImage stabupsprite, stabupmask, hangupsprite, hangupmask, adjust;
    QImage sharpsprite, sharpmask, flatsprite, flatmask, naturalsprite, naturalmask;
    QImage ottavaMark, ottavaMask; // the 8va sign over notes written an octave lower
    // The kept drawing surface: the stave picture with the notes drawn over it, in window
    // coordinates offset by the stave's corner.  Only drawbars changes it.
    QImage surface;
    // The surface's pixels per window pixel: 2 on screens at scale 2, where the pictures' 2x
    // twins are drawn at doubled coordinates (stave/draw.cpp).
    int staveScale = 1;
    static inline int forcedStaveScale = 0; // tests: 1 or 2 whatever the screen's scale
    int chosenStaveScale() const;
    // A picture's file in the program's folder: its 2x twin at scale 2, where there is one.
    QString picturefile(const QString& name) const;
    static constexpr int kStaveLeft = 216;
    static constexpr int kStaveTop = 35;
    // The white sheet behind the key picture and the stave, so that the two read as one: from
    // the stave's top to the key picture's lowest bottom, from the left edge to the stave's end.
    static constexpr int kSheetBottom = 335;

    // ---- skin ----
    QPixmap backgroundPicture;
    QColor backgroundColour{0, 0, 192};

    // ---- auxiliary windows, at most one each ----
    QPointer<QWidget> splashWindow;
    QPointer<QWidget> form2Window;
    QPointer<QWidget> webberWindow;
    QPointer<QWidget> fretboardWindow;
    QPointer<QWidget> introWindow;
    QPointer<QWidget> helpWindow; // the help pages, where the desktop cannot show the help file

    // ---- window load and unload (engine/startup.cpp) ----
    void Form_Load();
    void Form_Unload();
    void exit_Click();

    // ---- beat loop (engine/beatloop.cpp) ----
    void Start_Click();
    void Stop_Click();
    void Command1_Click();
    void temposcroll_Change();
    void Check4_Click();
    void Timer1_Timer();

    // ---- the window's own procedures, in the order the window declares them ----
    void NoteArrayfill(); // engine/notetable.cpp
    void createbar1();    // engine/createbar.cpp
    void createbar2();    // engine/handover.cpp
    void indexnotefind(); // engine/indexnote.cpp
    void shownote();      // stave/draw.cpp
    void accidents();     // stave/draw.cpp
    void signature();     // stave/signature.cpp
    void reach();         // engine/reach.cpp
    void loaddiatonics(); // engine/keys.cpp
    void saveskin();      // ui/skins.cpp
    void loadskin();
    void fitcaptions(); // ui/skins.cpp: a plate behind every caption that would not read
    void flame();
    void sky();
    void sci();
    void cor();
    void ind();
    void opendefaultdevice(); // sound/device.cpp
    void updatenotelabels();  // stave/labels.cpp
    void drawbars();          // stave/draw.cpp

    // ---- option handlers ----
    void Check1_Click();            // engine/keys.cpp
    void Check2_Click();            // stave/labels.cpp
    void Check3_Click();            // engine/handover.cpp
    void Keysignature_Click();      // engine/keys.cpp
    void Keysignature_Change();     // engine/keys.cpp
    void fretposition_Change();     // engine/indexnote.cpp
    void Stringchoice_Change();     // engine/indexnote.cpp
    void intervaldistance_Change(); // engine/indexnote.cpp

    // ---- sound (sound/device.cpp) ----
    void List1_Click();
    void VScroll1_Change();

    // ---- menus (ui/) ----
    void flamethrower_Click(); // ui/skins.cpp
    void corporate_Click();
    void scifi_Click();
    void industry_Click();
    void cwhelp_Click();     // ui/auxwindows.cpp
    void makersite_Click();  // ui/auxwindows.cpp
    void authorsite_Click(); // ui/auxwindows.cpp
    void about_Click();      // ui/auxwindows.cpp
    void Command2_Click();   // ui/auxwindows.cpp

    // ---- listening (ui/practice.cpp); nothing of it runs until the player turns it on ----
    QMenu* practice = nullptr;
    QAction* listenbass = nullptr; // "Listen to my Bass", a tick entry
    QAction* inputchoice = nullptr;
    QAction* calibrate = nullptr; // "Calibrate Latency…"
    QAction* countin = nullptr;   // "Count-in Bar", a tick entry kept in clefwork.conf
    std::unique_ptr<listen::Listener> listener; // made when first needed
    QLabel* tuner = nullptr;                    // in the status bar while listening
    QString heardText;                          // the last note heard, as the tuner shows it
    QString overflowNotice; // sound the input lost since listening started, after the tuner
    double inputLevelDb = -120.0;
    // Where the inputs come from: the system's, or a test's.
    static std::function<std::unique_ptr<platform::InputBackend>()>& inputsFactory();
    void listenbass_Click();
    void inputchoice_Click();
    void calibrate_Click();

    // ---- the count-in and the keyboard (ui/countin.cpp) ----
    QTimer* countInTimer = nullptr;
    int16_t countInBeat = 0; // the click sounded last, 0 when no count-in runs
    void startpressed();     // the play button, Space: Start_Click, after the count-in if ticked
    void stoppressed();      // the stop and pause buttons, Escape: also ends a count-in
    void countinbegin();
    void countintick();
    void buildKeys();
    // True while a list's text has the focus: there keys are text.
    bool typingInList() const;
    // Set by tests: the calibration's click period (0: its fixed tempo).
    int calibrationPeriodMs = 0;
    void ensurelistener();
    void startlistening();
    void stoplistening();
    void noteheard(const listen::PlayedNote& note);
    void levelheard(double dB, int midi, double cents);
    void listenfailed(const QString& message);
    void showtuner();
    // The input to listen to: the one chosen in the Input dialog during this run, else
    // CLEFWORK_LISTEN_FILE, else the one saved, else the first there is.
    QString chosenInput();
    QString dialogInput; // chosen in the Input dialog during this run
    // Why history is off, or where a damaged one went: in the status bar, so that it never takes
    // the keys meant for the beat (Space, Escape) as a message box would.
    QLabel* historyNotice = nullptr;
    void historynotice(const QString& message);

    // ---- judging the beats while listening (ui/judging.cpp) ----
    struct BeatHeard {
        bool listening = false;
        bool counts = false;   // a written note on a drawn bar
        int16_t position = 0;  // 1..4 in the bar being played
        int expectedMidi = 0;  // the sounding pitch Clefwork plays for it
        QString written;       // its written name, as the stave shows it before the tick
        int64_t barSerial = 0; // which bar it belongs to
        bool clicked = false;  // the tick sounds the metronome's click (not in note mode)
    };
    struct Mark {
        listen::Verdict verdict = listen::Verdict::Missed;
        QString played; // the name played, for a wrong note
    };
    listen::BeatMatcher matcher;
    listen::Score score;
    std::array<std::optional<Mark>, 5> marks{}; // on the bar being played, positions 1..4
    int64_t barSerial = 0;
    bool barDrawn = false; // the bar being played was drawn at its first beat
    // Where the heads of that bar stand on the stave: the hand-over at beat 4 moves the bar
    // being played on before the stave changes at the next beat 1.
    std::array<std::pair<int16_t, int16_t>, 5> markedHeads{}; // (type, height) by position
    struct BeatPlace {
        int64_t bar = 0;
        int16_t position = 0;
        QString written; // the written name, for the history
        int expectedMidi = 0;
        QDateTime due;
    };
    std::map<int64_t, BeatPlace> beatPlaces; // by beat id

    // ---- practice history (ui/judging.cpp): sessions and judged beats kept in SQLite ----
    std::unique_ptr<history::Writer> historyWriter; // made at the first session
    history::Writer::SessionToken historySession = 0;
    bool historyOpen = false;
    std::vector<history::BeatRecord> barRecords; // judged since they were last stored
    // Where the history goes: ~/.local/share/clefwork/history.sqlite, or a test's file.
    static std::function<QString()>& historyPath();
    void beginhistory();
    void storehistory();
    void endhistory();
    int64_t beatSerial = 0;
    QLabel* scoreLabel = nullptr;
    QTimer* judgeTimer = nullptr;
    // Before a tick: what the beat about to sound asks for.
    BeatHeard beatabouttosound();
    // After the tick: the beat goes to the matcher.
    void judgebeat(const BeatHeard& beat);
    void applyjudgements(const std::vector<listen::Judgement>& judged);
    void judgelater();
    void newsession();
    void showscore();
    // Paints the marks of the judged notes over the stave (the kept surface stays as it is).
    void paintmarks(QPainter& painter);

    // ---- the built-in synthesiser's soundfont (ui/soundchoice.cpp) ----
    QAction* soundchoice = nullptr; // "Sound…": the soundfont, kept in clefwork.conf
    void buildSound(); // the entry, and the remembered soundfont passed to the synthesiser
    void soundchoice_Click();
    // The end of the soundfont's load at start-up (it is parsed off the event thread).
    void soundfontloaded(bool ok, const QString& inUse, const QString& refused, const QString& why);

    // ---- the tempo trainer (ui/trainer.cpp): off at every start, its settings kept ----
    QAction* tempotrainer = nullptr; // "Tempo Trainer…"
    QLabel* trainerLabel = nullptr;  // in the status bar while the trainer is on
    bool trainerOn = false;
    listen::TrainerSettings trainerSettings;
    listen::TrainerRun trainerRun;
    std::map<int64_t, listen::BarVerdicts> trainerBars; // verdicts by bar, for follow me
    int64_t trainerDecidedBar = 0;                      // the last bar follow me decided on
    void buildTrainer();
    void tempotrainer_Click();
    void settrainer(bool on, const listen::TrainerSettings& chosen);
    void trainerbarended(); // at the end of the tick that ends a bar
    void trainerverdict(int64_t bar, listen::Verdict verdict);
    void showtrainer();
    void showstatusbar(); // the status bar while listening or while the trainer is on
    // The status bar's rows: the tuner and the score, then the trainer (ui/practice.cpp).
    std::array<QWidget*, 3> statusRows{}; // tuner and score, trainer, history notice
    QWidget* statusrow(int row);

    // Loads the stave picture and the sprites from the program's folder (stave/draw.cpp).
    void loadSprites();
    // Names, in one message, every picture missing from the program's folder (ui/pictures.cpp).
    void checkpictures();
    QStringList reportedPictures; // missing pictures already named, by path
    // Runs Timer1_Timer unless a tick is still running.
    void onTimer1();
    bool tickRunning = false;

    // Before the window first shows: on a screen too small for it, its controls scroll in a
    // window that fits (ui/stavebass.cpp).
    void placeonscreen();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override; // the keys (ui/countin.cpp)

private:
    void buildControls();
    void buildMenus();
    void buildPractice();
    ClientArea* client = nullptr;
    bool unloaded = false;
    bool placed = false; // placeonscreen has run
};
