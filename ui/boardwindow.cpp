#include "ui/boardwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "adapter/simboard.h"

namespace tavoxa {

BoardWindow::BoardWindow(SimulatedBoard& board, QWidget* parent) : QWidget(parent), board_(board)
{
    setObjectName("BoardWindow");
    setWindowTitle(tr("Board"));
    auto* layout = new QVBoxLayout(this);

    auto* lamps = new QGridLayout;
    for (int n = 0; n < 6; ++n) {
        auto* lamp = new QLabel(QString("REL %1").arg(n + 1), this);
        lamp->setObjectName(QString("RelayPin%1").arg(n + 1));
        lamp->setAlignment(Qt::AlignCenter);
        lamp->setMinimumSize(56, 28);
        lamp->setFrameShape(QFrame::Panel);
        lamp->setFrameShadow(QFrame::Sunken);
        lamps->addWidget(lamp, 0, n);
        relayLamps_[n] = lamp;
    }
    layout->addLayout(lamps);

    auto* contacts = new QHBoxLayout;
    k1_ = new QCheckBox(tr("K1 closed"), this);
    k1_->setObjectName("ContactK1");
    k2_ = new QCheckBox(tr("K2 closed"), this);
    k2_->setObjectName("ContactK2");
    contacts->addWidget(k1_);
    contacts->addWidget(k2_);
    layout->addLayout(contacts);

    auto* supply = new QHBoxLayout;
    powered_ = new QCheckBox(tr("Board powered"), this);
    powered_->setObjectName("BoardPowered");
    powered_->setChecked(true);
    chip_ = new QComboBox(this);
    chip_->setObjectName("BoardChip");
    chip_->addItems({"PCF 8574 (0x20)", "PCF 8574 A (0x38)"});
    supply->addWidget(powered_);
    supply->addWidget(chip_);
    layout->addLayout(supply);

    connect(k1_, &QCheckBox::toggled, this, [this](bool closed) { board_.SetK1Closed(closed); });
    connect(k2_, &QCheckBox::toggled, this, [this](bool closed) { board_.SetK2Closed(closed); });
    connect(powered_, &QCheckBox::toggled, this, [this](bool on) { board_.SetAnswering(on); });
    connect(chip_, qOverload<int>(&QComboBox::activated), this,
            [this](int item) { board_.SetChipAddress(item == 0 ? 0x20 : 0x38); });

    // The pins change on the bus thread; the lamps are shown on the window's.
    board_.SetOnPinsChanged([this] {
        QMetaObject::invokeMethod(
            this, [this] { ShowPins(); }, Qt::QueuedConnection);
    });
    ShowPins();
    setFixedSize(sizeHint());
}

BoardWindow::~BoardWindow()
{
    board_.SetOnPinsChanged(nullptr);
}

void BoardWindow::ShowPins()
{
    const unsigned pins = board_.RelayPins();
    for (int n = 0; n < 6; ++n) {
        const bool on = (pins >> n) & 1u;
        relayLamps_[n]->setStyleSheet(on ? "background-color: #00FF00; font-weight: bold;"
                                         : "background-color: #FF0000; font-weight: bold;");
    }
}

}  // namespace tavoxa
