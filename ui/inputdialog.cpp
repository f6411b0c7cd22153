#include "ui/inputdialog.h"

#include "listen/listener.h"
#include "ui/tunertext.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>

InputDialog::InputDialog(listen::Listener& listener, const QString& current, QWidget* parent)
    : QDialog(parent), listener_(listener) {
    setWindowTitle(QStringLiteral("Listen to my Bass: Input"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("What Clefwork listens to:"), this));
    inputs = new QListWidget(this);
    for (const platform::InputChoice& c : listener_.choices()) {
        auto* item = new QListWidgetItem(QString::fromStdString(c.label), inputs);
        item->setData(Qt::UserRole, QString::fromStdString(c.id));
        if (QString::fromStdString(c.id) == current) {
            inputs->setCurrentItem(item);
        }
    }
    layout->addWidget(inputs);
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

    connect(inputs, &QListWidget::currentRowChanged, this, [this] { listenToSelected(); });
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
    listenToSelected();
}

QString InputDialog::chosen() const {
    const QListWidgetItem* item = inputs->currentItem();
    return item != nullptr ? item->data(Qt::UserRole).toString() : QString();
}

void InputDialog::listenToSelected() {
    problem->clear();
    const QString id = chosen();
    if (id.isEmpty()) {
        listener_.stop();
        return;
    }
    listener_.start(id);
}
