// The "Board" window of the simulated program: the six relay pins of the simulated expander
// as lamps, and the two contacts K1 and K2 as check boxes.
#pragma once

#include <QWidget>
#include <array>

class QCheckBox;
class QComboBox;
class QLabel;

namespace tavoxa {

class SimulatedBoard;

class BoardWindow : public QWidget {
    Q_OBJECT
public:
    explicit BoardWindow(SimulatedBoard& board, QWidget* parent = nullptr);
    ~BoardWindow() override;

    // Recolours the lamps from the expander's pins.
    void ShowPins();

private:
    SimulatedBoard& board_;
    std::array<QLabel*, 6> relayLamps_{};
    QCheckBox* k1_ = nullptr;
    QCheckBox* k2_ = nullptr;
    QCheckBox* powered_ = nullptr;
    QComboBox* chip_ = nullptr;
};

}  // namespace tavoxa
