#include "ui/inputdialog.h"

#include "listen/listener.h"
#include "ui/tunertext.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>

InputDialog::InputDialog(listen::Listener& listener, const QString& current, int channel,
                         QWidget* parent)
    : QDialog(parent), listener_(listener), channel_(std::max(channel, 0)) {
    setWindowTitle(QStringLiteral("Listen to my Bass: Input"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("What Clefwork listens to:"), this));
    inputs = new QListWidget(this);
    for (const platform::InputChoice& c : listener_.choices()) {
        auto* item = new QListWidgetItem(QString::fromStdString(c.label), inputs);
        item->setData(Qt::UserRole, QString::fromStdString(c.id));
        channelCounts_.push_back(c.kind == platform::InputKind::Audio ? std::max(c.channels, 1)
                                                                      : 0);
        if (QString::fromStdString(c.id) == current) {
            inputs->setCurrentItem(item);
        }
    }
    layout->addWidget(inputs);
    // A bass into an interface's second input is heard on its second channel.
    auto* channelRow = new QFormLayout;
    channels = new QComboBox(this);
    channelRow->addRow(QStringLiteral("Input channel:"), channels);
    layout->addLayout(channelRow);
    level = new QProgressBar(this);
    level->setRange(-70, 0); // down to the detector's gate
    level->setValue(-70);
    level->setFormat(QStringLiteral("Level"));
    layout->addWidget(level);
    heard = new QLabel(QStringLiteral("Play a note to tune."), this);
    QFont big = heard->font();
    big.setPointSize(big.pointSize() + 6);
    heard->setFont(big);
    layout->addWidget(heard);
    problem = new QLabel(this);
    problem->setWordWrap(true);
    layout->addWidget(problem);
    auto* advice = new QLabel(
        QStringLiteral("When the notes play (Metronome unticked), a microphone also hears "
                       "Clefwork's own sound and takes it for your playing. Headphones, or your "
                       "bass through a line or instrument input, avoid this."),
        this);
    advice->setWordWrap(true);
    layout->addWidget(advice);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(inputs, &QListWidget::currentRowChanged, this, [this] {
        offerChannels();
        listenToSelected();
    });
    connect(channels, &QComboBox::activated, this, [this](int index) {
        channel_ = index;
        listenToSelected();
    });
    connect(&listener_, &listen::Listener::levelChanged, this,
            [this](double dB, int midi, double cents) {
                level->setValue(static_cast<int>(std::lround(std::clamp(dB, -70.0, 0.0))));
                if (midi > 0) {
                    heard->setText(tunerNoteText(midi, cents));
                }
            });
    connect(&listener_, &listen::Listener::failed, this,
            [this](const QString& message) { problem->setText(message); });
    if (inputs->count() == 0) {
        problem->setText(QStringLiteral("No input was found."));
    }
    offerChannels();
    listenToSelected();
}

QString InputDialog::chosen() const {
    const QListWidgetItem* item = inputs->currentItem();
    return item != nullptr ? item->data(Qt::UserRole).toString() : QString();
}

int InputDialog::chosenChannel() const {
    const int row = inputs->currentRow();
    const int count =
        row >= 0 && static_cast<std::size_t>(row) < channelCounts_.size() ? channelCounts_[row] : 0;
    return count > 0 ? platform::clampChannel(channel_, count) : channel_;
}

void InputDialog::offerChannels() {
    const int row = inputs->currentRow();
    const int count =
        row >= 0 && static_cast<std::size_t>(row) < channelCounts_.size() ? channelCounts_[row] : 0;
    channels->clear();
    for (int c = 1; c <= std::max(count, 1); ++c) {
        channels->addItem(QString::number(c));
    }
    // Only a sound card has channels to choose; one with fewer than chosen shows its last.
    channels->setEnabled(count > 1);
    channels->setCurrentIndex(count > 0 ? platform::clampChannel(channel_, count) : 0);
}

void InputDialog::listenToSelected() {
    problem->clear();
    const QString id = chosen();
    if (id.isEmpty()) {
        listener_.stop();
        return;
    }
    listener_.start(id, channel_);
}
