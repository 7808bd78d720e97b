// The About window: the program's name, version and credits, and "Close".
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include <array>

namespace ui {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    std::array<QLabel*, 4> lblAbout{};  // object names lblAbout_0 .. lblAbout_3
    QPushButton* Command1 = nullptr;
};

} // namespace ui
