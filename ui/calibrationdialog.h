// "Calibrate Latency…": eight clicks at a fixed tempo; the player plucks along (or Clefwork hears
// itself on its own output), and the median offset becomes the latency the judging allows for.
#pragma once

#include "layers/window.h"

#include "listen/calibration.h"

#include <QDialog>
#include <cstdint>
#include <vector>

class QLabel;
class QPushButton;
class QTimer;
namespace listen {
class Listener;
struct PlayedNote;
} // namespace listen

class CalibrationDialog : public QDialog {
    Q_OBJECT

public:
    // `soundNotes`: also play a bass note with each click, for an input that hears Clefwork's
    // own output (a click alone is no note to hear).
    CalibrationDialog(listen::Listener& listener, bool soundNotes, int16_t velocity,
                      QWidget* parent);

    void begin();
    int periodMs = 60000 / listen::kCalibrationTempo;
    QPushButton* startButton = nullptr;
    QLabel* results = nullptr;
    listen::Calibration result;
    bool finished = false;

signals:
    void clicked(int index, qint64 nanos);
    void calibrated(bool trusted, double latencyMs);

private:
    void click();
    void finish();
    // When click `index` is due on the device's clock, and the timer set for its send.
    int64_t due(std::size_t index) const;
    void arm();
    int64_t firstDue_ = 0;
    listen::Listener& listener_;
    bool soundNotes_;
    int16_t velocity_;
    QTimer* timer_ = nullptr;
    std::vector<int64_t> clicks_;
    std::vector<int64_t> notes_;
};
